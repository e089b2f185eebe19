#pragma once
// The line page served from a records store, read-only: the store is read
// at most every few seconds, on the server's thread, and only listed.
#include <cstdint>
#include <memory>
#include <string>

#include "programs/vane_upgrade/http/web_server.h"
#include "records/record_store.h"

class LineWeb {
public:
    // The store is used on the server's thread only, from Start until the end.
    static std::unique_ptr<LineWeb> Start(IRecordStore& store, const std::string& address, uint16_t port,
                                          const std::string& token, std::string& error, WebLimits limits = {});
    ~LineWeb();
    uint16_t Port() const;

    struct State;

private:
    explicit LineWeb(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};
