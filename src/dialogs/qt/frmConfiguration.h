// The configuration editor on the Qt desktop; its behaviour is
// ConfigurationForm's. It takes the record to edit ("" for a new one) and,
// once closed, record() is what it hands back.
#pragma once

#include <QDialog>
#include <QScopedPointer>
#include <QStringList>

#include <string>

#include "dialogs/ConfigurationForm.h"

namespace Ui {
class frmConfiguration;
}
class ImageCombo;

class frmConfiguration : public QDialog {
    Q_OBJECT

public:
    explicit frmConfiguration(std::string record = {}, QWidget* parent = nullptr);
    ~frmConfiguration() override;

    // After OK the edited record, after Cancel "", else the record given.
    const std::string& record() const { return form_.record(); }

    // The filter of the browse button, as the common dialog takes it, and the
    // name filters this dialog offers for it.
    static const QString BrowseFilter;
    static QStringList BrowseNameFilters();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void chkRunBatch_Click();
    void cmdBrowse_Click();
    void OKButton_Click();
    void CancelButton_Click();
    ImageCombo* Combo(telwick::dialogs::ComboIndex index) const;

    const QScopedPointer<Ui::frmConfiguration> m_ui;
    telwick::dialogs::ConfigurationForm form_;
};
