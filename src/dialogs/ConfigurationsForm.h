// The configuration list as behaviour, the same on every system: the rows
// built from the monitors in memory with their names looked up in the
// database, Add and Edit through the editor, Remove after a question, OK
// writing every row as a record and reloading the monitors, Cancel writing
// nothing. The rows live here; a view draws them and is told of each change.
//
// A stored record that no monitor stands for (the load skipped it as
// unreadable, or a failed load has not reached it yet) still gets its row, in
// its place among the others: the administrator sees it, may remove it, and OK
// writes it back exactly as it is stored. An unreadable one cannot be edited:
// the editor could only show its broken number as "any", and OK there would
// quietly widen the configuration.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace telwick::dialogs {

inline constexpr const char* ConfigurationsCaption = "Configurations";

// The columns of lstConfigurations, in order.
enum ListColumn { ColComputer, ColEventType, ColEventLevel, ColMsgBox, ColEventlog, ColBatch, ColumnCount };
struct ColumnSpec {
    const char* header;
    int twips;  // width
};
inline constexpr ColumnSpec ListColumns[ColumnCount] = {
    {"Computer", 2000}, {"Event type", 2000}, {"Event level", 2000},
    {"MsgBox", 1000},   {"Eventlog", 1000},   {"Batch", 1000},
};

// One row: six texts shown, and the hidden data its record is rebuilt from.
struct ConfigurationRow {
    std::array<std::string, ColumnCount> texts;  // "*" for any; flag columns as the record has them
    std::string computerNr;    // hidden: record field 1
    std::string eventTypeNr;   // hidden: record field 2
    std::string eventLevelNr;  // hidden: record field 3
    std::string batchFile;     // hidden: record field 7, unescaped
    // A record no monitor stands for, as stored; written back as it is until
    // the editor hands back another one. Empty for the other rows.
    std::string stored;
    // Why the stored record cannot be read, in words; empty when it can.
    std::string problem;
    // The row's record: the stored one when it is kept, else the hidden
    // numbers, the flag columns' texts and the path.
    std::string Record() const;
};

// What a number cell shows for a number outside the 32-bit range.
inline constexpr const char* UnreadablePrefix = "Unreadable: ";

// What the list asks of its view.
class ConfigurationsView {
public:
    virtual ~ConfigurationsView() = default;
    // A row was appended at the end of rows(); draw it (it has no selection).
    virtual void RowAdded(size_t index) = 0;
    // The texts of a row changed (its lookups filled it).
    virtual void RowChanged(size_t index) = 0;
    // A row was taken out; the rows behind it moved up by one.
    virtual void RowRemoved(size_t index) = 0;
    // Shows the editor modally, owned by the list, with the record ("" for a
    // new configuration), and returns the record it hands back: the edited one
    // after OK, "" after Cancel, and the given one when its window was closed.
    virtual std::string EditRecord(const std::string& record) = 0;
};

class ConfigurationsForm {
public:
    explicit ConfigurationsForm(ConfigurationsView& view) : view_(view) {}
    // Unloads when the view did not.
    ~ConfigurationsForm();
    ConfigurationsForm(const ConfigurationsForm&) = delete;
    ConfigurationsForm& operator=(const ConfigurationsForm&) = delete;

    // Checks off; a row for each monitor in memory (InitList). The view is
    // told of every row as it comes.
    void Form_Load();
    const std::vector<ConfigurationRow>& rows() const { return rows_; }

    // A new row from the editor, unless it was cancelled.
    void cmdAdd_Click();
    // The row the editor works on: the list's current row when it is selected,
    // else the first selected one; -1 (none) does nothing. An unreadable row
    // is not edited: a message says why.
    void cmdEdit_Click(int selectedRow);
    // Asks (message 1, Yes/No, titled "Configurations"); on Yes removes the
    // selected rows, from the last to the first.
    void cmdRemove_Click(const std::vector<size_t>& selectedRows);
    // Writes every row as "config0", "config1", ..., empties the stale records
    // behind them and reloads the monitors. True: close the dialog. False: a
    // step failed and was given up; the dialog stays open.
    bool OKButton_Click();
    // Nothing is written.
    void CancelButton_Click() {}
    // The shared connection closed; checks allowed again (unless another
    // settings dialog beneath still holds them off). Runs once.
    void Form_Unload();

private:
    // Fills a row from a record: appended (row < 0) or the given row. With
    // keep, the record is a stored one that is written back as it is.
    void SetRowData(const std::string& record, int row, bool keep = false);

    ConfigurationsView& view_;
    std::vector<ConfigurationRow> rows_;
    bool loaded_ = false;
    bool unloaded_ = false;
    bool checksBefore_ = true;  // ChecksAllowed when the dialog loaded
};

}  // namespace telwick::dialogs
