// The configuration editor: one monitoring configuration, handed in and out
// through modMain::ConfigValue (the empty text: a new one, or cancelled).
#pragma once

#include <QDialog>
#include <QScopedPointer>
#include <QStringList>

#include <string>

namespace Ui {
class frmConfiguration;
}
class ImageCombo;

class frmConfiguration : public QDialog {
    Q_OBJECT

public:
    explicit frmConfiguration(QWidget* parent = nullptr);
    ~frmConfiguration() override;

    // The filter of the browse button, as the other platform's file dialog
    // takes it, and the name filters this dialog offers for it.
    static const QString BrowseFilter;
    static QStringList BrowseNameFilters();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Form_Load();
    void InitCombos();
    void ShowRecord(const std::string& record);
    void chkRunBatch_Click();
    void cmdBrowse_Click();
    void OKButton_Click();
    void CancelButton_Click();

    const QScopedPointer<Ui::frmConfiguration> m_ui;
};
