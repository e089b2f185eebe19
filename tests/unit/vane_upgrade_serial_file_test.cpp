// The production line's series-number file: reserve N by writing N+1 first.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "programs/vane_upgrade/serial_file.h"

namespace fs = std::filesystem;

namespace {

class SerialFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("vane-serial-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        path_ = (dir_ / "serial.txt").string();
    }
    void TearDown() override { fs::remove_all(dir_); }
    void Put(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
    std::string Contents()
    {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    size_t FilesInFolder() { return static_cast<size_t>(std::distance(fs::directory_iterator(dir_), fs::directory_iterator())); }

    fs::path dir_;
    std::string path_;
};

TEST_F(SerialFile, ReservingNWritesNPlusOneInUpperCase)
{
    Put("1a2b\n");
    chmod(path_.c_str(), 0640);
    uint32_t reserved = 0;
    std::string error;
    ASSERT_TRUE(ReserveSerialNumber(path_, reserved, error)) << error;
    EXPECT_EQ(reserved, 0x1A2Bu);
    EXPECT_EQ(Contents(), "1A2C\n");
    ASSERT_TRUE(ReserveSerialNumber(path_, reserved, error)) << error;
    EXPECT_EQ(reserved, 0x1A2Cu);
    EXPECT_EQ(Contents(), "1A2D\n");
    EXPECT_EQ(FilesInFolder(), 1u) << "no temporary file is left behind";
    struct stat st {};
    ASSERT_EQ(stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << "the file keeps its mode";
}

TEST_F(SerialFile, LastNumberIsHandedOutOnceThenTheFileIsUsedUp)
{
    Put("FFFFFFFF");
    uint32_t reserved = 0;
    std::string error;
    ASSERT_TRUE(ReserveSerialNumber(path_, reserved, error)) << error;
    EXPECT_EQ(reserved, 0xFFFFFFFFu);
    EXPECT_EQ(Contents(), "100000000\n") << "never wraps to 0";
    EXPECT_FALSE(ReserveSerialNumber(path_, reserved, error));
    EXPECT_NE(error.find("every series number up to FFFFFFFF was handed out"), std::string::npos) << error;
    EXPECT_EQ(Contents(), "100000000\n");
    bool usedUp = false;
    EXPECT_FALSE(ReadSerialFile(path_, reserved, error, &usedUp));
    EXPECT_TRUE(usedUp);
}

TEST_F(SerialFile, MalformedOrMissingFileIsRefusedAndLeftAlone)
{
    uint32_t number = 0;
    std::string error;
    for (const char* bad : {"", "\n", "12G4\n", "0x12\n", "123456789\n", "12\n34\n", "-1\n"}) {
        Put(bad);
        EXPECT_FALSE(ReadSerialFile(path_, number, error)) << bad;
        EXPECT_FALSE(ReserveSerialNumber(path_, number, error)) << bad;
        EXPECT_EQ(Contents(), bad);
    }
    Put("9\r\n");
    EXPECT_TRUE(ReadSerialFile(path_, number, error));
    EXPECT_EQ(number, 9u);
    fs::remove(path_);
    EXPECT_FALSE(ReserveSerialNumber(path_, number, error));
    EXPECT_NE(error.find("serial.txt"), std::string::npos);
    EXPECT_FALSE(fs::exists(path_)) << "a missing file is not created";
}

TEST_F(SerialFile, StationsSharingTheFileNeverGetTheSameNumber)
{
    Put("100\n");
    constexpr int kStations = 4, kEach = 25;
    std::vector<std::vector<uint32_t>> got(kStations);
    std::vector<std::thread> stations;
    for (int s = 0; s < kStations; ++s) {
        stations.emplace_back([&, s] {
            for (int i = 0; i < kEach; ++i) {
                uint32_t n = 0;
                std::string error;
                if (ReserveSerialNumber(path_, n, error)) got[s].push_back(n);
            }
        });
    }
    for (auto& t : stations) t.join();
    std::vector<uint32_t> all;
    for (auto& g : got) all.insert(all.end(), g.begin(), g.end());
    std::sort(all.begin(), all.end());
    ASSERT_EQ(all.size(), static_cast<size_t>(kStations * kEach));
    for (size_t i = 0; i < all.size(); ++i) EXPECT_EQ(all[i], 0x100 + i);
    EXPECT_EQ(Contents(), SerialFileText(0x100 + kStations * kEach));
}

} // namespace
