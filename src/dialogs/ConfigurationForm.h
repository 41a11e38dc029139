// The configuration editor as behaviour, the same on every system: the three
// combos filled from the database, the record shown, what the batch box
// enables, the record OK builds and what Cancel and the close box hand back.
// It takes its record and returns one; it writes nothing to the settings.
// A view draws the combos from items(), the controls from fields(), and hands
// what the user chose back to OKButton_Click.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace telwick::dialogs {

inline constexpr const char* ConfigurationCaption = "Configuration";
// The open-file dialog's filter, in the common dialog's form: pairs of
// description and patterns, separated by "|"; it opens on the first entry.
inline constexpr const char* BrowseFilter = "Batch file (*.bat;*.cmd)|*.bat;*.cmd|All files (*.*)|*.*";

// The image combos and the check boxes, by index.
enum ComboIndex { cboComputer, cboEventType, cboEventLevel, ComboCount };
enum CheckIndex { chkMessageBox, chkEventlog, chkRunBatch, CheckCount };

// The key prefixes of the combos' items: "COM12", "EVT3", "EVL4".
inline constexpr const char* ComboKeyPrefix[ComboCount] = {"COM", "EVT", "EVL"};

struct ComboItem {
    std::string key;   // prefix + number
    std::string text;  // "NAME (DOMAIN)" or the description
};

// The controls' values.
struct ConfigurationFields {
    // The selected item of each combo, -1 for none: an open filter.
    std::array<int, ComboCount> selected{-1, -1, -1};
    // 0 unchecked, 1 checked, 2 greyed (a record may say so).
    std::array<int, CheckCount> checks{1, 0, 0};
    std::string batchFile;  // txtBatch
};

class ConfigurationForm {
public:
    // The record to edit, or "" for a new configuration.
    explicit ConfigurationForm(std::string record);

    // InitCombos (each combo from its query; a failure goes to the error
    // reporter, and the combos keep what they have), then the record shown,
    // each field on its own (a key no item has leaves its combo open, a check
    // value outside 0 to 2 leaves its box as it was).
    void Form_Load();
    const std::vector<ComboItem>& items(ComboIndex combo) const { return items_.at(combo); }
    // The controls as the dialog opens.
    const ConfigurationFields& fields() const { return fields_; }
    // The index of the item with exactly this key, -1 when none has it.
    int IndexOfKey(ComboIndex combo, const std::string& key) const;

    // chkRunBatch_Click: the path and Browse are enabled exactly while
    // "Run batch:" is checked (1; not greyed).
    static bool BatchEnabled(int runBatchCheck) { return runBatchCheck == 1; }
    // cmdBrowse_Click: a file name chosen in the open-file dialog becomes the
    // path; an empty one (nothing chosen) leaves it.
    static std::string BrowseResult(const std::string& current, const std::string& chosen) {
        return chosen.empty() ? current : chosen;
    }

    // Builds the record from the controls (no check of them). True: close the
    // dialog, record() holds it. False: it failed and was given up; the
    // dialog stays open.
    bool OKButton_Click(const ConfigurationFields& shown);
    // record() becomes "".
    void CancelButton_Click() { record_.clear(); }
    // What the editor hands back: the built record after OK, "" after Cancel,
    // and the record it was given when it was closed any other way.
    const std::string& record() const { return record_; }

private:
    void InitCombos();
    void ShowRecord();

    std::string record_;
    std::array<std::vector<ComboItem>, ComboCount> items_;
    ConfigurationFields fields_;
};

}  // namespace telwick::dialogs
