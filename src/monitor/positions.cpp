#include "monitor/positions.h"

#include <algorithm>
#include <charconv>
#include <iostream>

#include "platform/registry.h"
#include "settings/registry.h"

namespace modPositions {

namespace store = telwick::platform::registry;

std::string Format(int64_t covered, const std::string& record) { return std::to_string(covered) + ";" + record; }

std::optional<Kept> Parse(const std::string& text) {
    const size_t separator = text.find(';');
    if (separator == 0 || separator == std::string::npos) return std::nullopt;
    Kept kept;
    const char* end = text.data() + separator;
    auto [stop, error] = std::from_chars(text.data(), end, kept.covered);
    if (error != std::errc() || stop != end) return std::nullopt;
    kept.record = text.substr(separator + 1);
    return kept;
}

void ForgetAll() {
    if (store::KeyExists(modRegistry::HKEY_LOCAL_MACHINE, StateKey) == store::Status::Ok)
        store::DeleteKey(modRegistry::HKEY_LOCAL_MACHINE, StateKey);
}

std::map<std::string, Kept> ReadAll() {
    std::map<std::string, Kept> all;
    std::vector<store::Value> values;
    std::vector<std::string> subKeys;
    if (store::ListKey(modRegistry::HKEY_LOCAL_MACHINE, StateKey, values, subKeys) != store::Status::Ok)
        return all;
    for (auto& value : values) {
        if (value.type != modRegistry::REG_SZ) continue;
        if (!value.data.empty() && value.data.back() == '\0') value.data.pop_back();
        // Names compare without regard to case, as in the store: kept by the form
        // the program writes them in ("config0").
        for (char& c : value.name)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (auto kept = Parse(value.data)) all.emplace(value.name, std::move(*kept));
    }
    return all;
}

void Keeper::Clear() {
    entries_.clear();
    removals_.clear();
}

void Keeper::Track(const std::string& name, const std::string& record, std::optional<int64_t> written) {
    entries_.push_back(Entry{name, record, written});
}

bool Keeper::Save(const std::vector<int64_t>& covered) {
    std::vector<store::Value> changed;
    const size_t n = std::min(covered.size(), entries_.size());
    for (size_t i = 0; i < n; ++i) {
        if (entries_[i].written == covered[i]) continue;
        std::string data = Format(covered[i], entries_[i].record);
        data.push_back('\0');  // a REG_SZ keeps its terminator, as every string of the store
        changed.push_back(store::Value{entries_[i].name, modRegistry::REG_SZ, std::move(data)});
    }
    if (changed.empty() && removals_.empty()) return true;
    const store::Status status = store::WriteValues(modRegistry::HKEY_LOCAL_MACHINE, StateKey, changed, removals_);
    if (status != store::Status::Ok) {
        // Said once per run of failures; the positions stay due and go with the
        // next write that succeeds.
        if (!failureTold_)
            std::cerr << "Telwick: the positions could not be kept in " << store::StoreName() << " ("
                      << store::LastError() << "); they are tried again after the next check" << std::endl;
        failureTold_ = true;
        return false;
    }
    for (size_t i = 0; i < n; ++i) entries_[i].written = covered[i];
    removals_.clear();
    failureTold_ = false;
    return true;
}

}  // namespace modPositions
