// Positions kept across a restart (the opt-in "Resume"): each monitor's covered
// event number, with the record it belongs to, as one value per record under
// HKLM\SOFTWARE\Corvane\Telwick\State ("config0" = "4711;12;;3;0;1;1;C:\jobs\a.bat;").
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace modPositions {

inline const std::string StateKey = "SOFTWARE\\Corvane\\Telwick\\State";

struct Kept {
    int64_t covered = 0;
    std::string record;
};

// The stored text: the covered number in decimal, ";", the record as it is.
std::string Format(int64_t covered, const std::string& record);
// Nothing when the text does not begin with a number followed by ";".
std::optional<Kept> Parse(const std::string& text);

// Removes every kept position (Resume is off: positions kept long ago would
// bring back events reported since).
void ForgetAll();

// Every kept position by value name, in one read of the hive; empty when there
// is none or the hive cannot be read.
std::map<std::string, Kept> ReadAll();

// The positions of the loaded monitors and what the hive holds of them, so that
// only the ones that moved are written.
class Keeper {
public:
    void Clear();
    // The next monitor (in load order) came from the record under name; written
    // is the number the hive holds for it, when it holds one for this record.
    void Track(const std::string& name, const std::string& record, std::optional<int64_t> written);
    // Names whose kept positions belong to no record any more; removed with the
    // next write.
    void RemoveLater(std::vector<std::string> names) { removals_ = std::move(names); }
    // Writes every position whose covered number (one per tracked monitor, in
    // the same order) differs from the one kept, all in one hive transaction.
    // False when the hive refused; the same positions are tried again next time.
    bool Save(const std::vector<int64_t>& covered);
    size_t size() const { return entries_.size(); }

private:
    struct Entry {
        std::string name;
        std::string record;
        std::optional<int64_t> written;
    };
    std::vector<Entry> entries_;
    std::vector<std::string> removals_;
    bool failureTold_ = false;
};

}  // namespace modPositions
