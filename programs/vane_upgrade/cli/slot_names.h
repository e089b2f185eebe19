#pragma once
// The names a station gives its hub's slots, as they are labelled on the hub:
// a small text file of "PORT = NAME" lines ("1-1.4 = 7"); '#' starts a
// comment. A port without a name is shown by its path.
#include <map>
#include <string>

class SlotNames {
public:
    // Reads the file; false with the line at fault in error.
    bool Load(const std::string& path, std::string& error);
    bool Parse(const std::string& text, std::string& error);
    // Writes every name, one line per port in port order.
    bool Save(const std::string& path, std::string& error) const;
    std::string Text() const;

    // The slot's name, or the port itself when it has none.
    std::string NameOf(const std::string& port) const;
    bool Has(const std::string& port) const { return names_.count(port) > 0; }
    // Where the slot comes among the others: named slots in the order of their
    // names (2 before 10), then the ports in their natural order.
    bool SlotLess(const std::string& portA, const std::string& portB) const;
    // Names a port; false when the name is unusable (empty, too long, a
    // control character or '=' or '#').
    bool Set(const std::string& port, const std::string& name);
    size_t Size() const { return names_.size(); }

private:
    std::map<std::string, std::string> names_;
};

// Whether name can be a slot's name: 1 to 32 characters, no control
// characters, no '=' or '#', no spaces at either end.
bool IsUsableSlotName(const std::string& name);
