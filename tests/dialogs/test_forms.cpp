// The windows themselves: their captions, fixed sizes and places of the
// controls in twips, tab order, default and cancel buttons; and the small
// helpers the forms share.
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <cmath>
#include <memory>

#include "dialogs/dialogtest.h"
#include "dialogs/qt/formsupport.h"
#include "dialogs/qt/frmConfiguration.h"
#include "dialogs/qt/frmConfigurations.h"
#include "dialogs/qt/frmDatabase.h"

using namespace telwick::test;
namespace dialogs = telwick::dialogs;

namespace {

struct Place {
    const char* name;
    int left, top, width, height;  // twips, inside a frame relative to it
};

struct Form {
    const char* name;
    std::function<std::unique_ptr<QDialog>()> make;
    const char* caption;
    int width, height;  // client area in twips
    std::vector<Place> places;
    std::vector<const char*> tabOrder;  // the controls that take the focus
};

std::vector<Form> Forms() {
    return {
        {"frmDatabase",
         [] { return std::make_unique<frmDatabase>(); },
         "Database connection",
         6945,
         4095,
         {{"picImage", 105, 135, 1950, 3450},
          {"brdImportExport", 2175, 45, 4695, 3555},
          {"txtServer", 1320, 360, 3120, 330},
          {"Line1", 225, 1050, 4200, 15},
          {"Line2", 225, 1065, 4200, 15},
          {"optUser_0", 405, 1815, 3555, 270},
          {"optUser_1", 405, 2115, 3555, 270},
          {"txtUsername", 1965, 2580, 2490, 315},
          {"txtPassword", 1965, 2985, 2490, 315},
          {"OKButton", 4305, 3705, 1215, 300},
          {"CancelButton", 5655, 3705, 1215, 300}},
         {"txtServer", "optUser_0", "optUser_1", "txtUsername", "txtPassword", "OKButton", "CancelButton"}},
        {"frmConfigurations",
         [] { return std::make_unique<frmConfigurations>(); },
         "Configurations",
         9510,
         5805,
         {{"brdConfigurations", 75, 15, 9360, 5310},
          {"lstConfigurations", 120, 240, 9090, 4590},
          {"cmdAdd", 5325, 4905, 1215, 300},
          {"cmdRemove", 6645, 4905, 1215, 300},
          {"cmdEdit", 7980, 4905, 1215, 300},
          {"OKButton", 6870, 5430, 1215, 300},
          {"CancelButton", 8205, 5430, 1215, 300}},
         {"CancelButton", "OKButton", "lstConfigurations", "cmdAdd", "cmdRemove", "cmdEdit"}},
        {"frmConfiguration",
         [] { return std::make_unique<frmConfiguration>(); },
         "Configuration",
         6600,
         3165,
         {{"brdFilter", 60, 120, 3180, 2595},
          {"cboComputer", 135, 555, 2895, 330},
          {"cboEventType", 135, 1290, 2895, 330},
          {"cboEventLevel", 135, 1995, 2895, 330},
          {"brdAction", 3345, 120, 3180, 2595},
          {"chkMessageBox", 165, 570, 2865, 255},
          {"chkEventlog", 165, 975, 2865, 255},
          {"chkRunBatch", 165, 1380, 2865, 255},
          {"txtBatch", 435, 1710, 2595, 300},
          {"cmdBrowse", 1815, 2130, 1215, 315},
          {"OKButton", 3945, 2805, 1215, 300},
          {"CancelButton", 5295, 2805, 1215, 300}},
         {"cboComputer", "cboEventType", "cboEventLevel", "chkMessageBox", "chkEventlog", "chkRunBatch",
          "txtBatch", "cmdBrowse", "CancelButton", "OKButton"}},
    };
}

class FormTest : public DialogTest, public ::testing::WithParamInterface<size_t> {
protected:
    Form form() const { return Forms()[GetParam()]; }
};

// Where a place in twips lands on this screen: 15 twips a pixel at 96 dpi,
// scaled edge by edge for another logical dpi.
double Factor(const QWidget* w) { return w->logicalDpiX() / 96.0; }
int Px(int twips, double factor) { return static_cast<int>(std::lround(twips / 15.0 * factor)); }
QRect Expected(const Place& p, double f) {
    const int left = Px(p.left, f), top = Px(p.top, f);
    return QRect(left, top, std::max(1, Px(p.left + p.width, f) - left),
                 std::max(1, Px(p.top + p.height, f) - top));
}

TEST_P(FormTest, CaptionSizeAndPlaces) {
    const Form f = form();
    auto window = f.make();
    const double factor = Factor(window.get());
    EXPECT_EQ(window->windowTitle().toStdString(), f.caption);
    EXPECT_EQ(window->size(), QSize(Px(f.width, factor), Px(f.height, factor)));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    const Qt::WindowFlags flags = window->windowFlags();
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowContextHelpButtonHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    for (const Place& p : f.places) {
        QWidget* w = Child<QWidget>(window.get(), p.name);
        if (!w) continue;
        EXPECT_EQ(w->geometry(), Expected(p, factor)) << p.name;
    }
}

TEST_P(FormTest, TabOrderDefaultAndCancel) {
    const Form f = form();
    auto window = f.make();
    // the focus chain, reduced to the listed controls
    std::vector<std::string> chain;
    QWidget* first = Child<QWidget>(window.get(), f.tabOrder.front());
    QWidget* w = first;
    do {
        const std::string name = w->objectName().toStdString();
        for (const char* wanted : f.tabOrder)
            if (name == wanted) chain.push_back(name);
        w = w->nextInFocusChain();
    } while (w != first && chain.size() < 40);
    EXPECT_EQ(chain, std::vector<std::string>(f.tabOrder.begin(), f.tabOrder.end()));

    auto* ok = Child<QPushButton>(window.get(), "OKButton");
    EXPECT_TRUE(ok->isDefault());
    for (QPushButton* b : window->findChildren<QPushButton*>()) {
        if (b == ok) continue;
        EXPECT_FALSE(b->isDefault()) << b->objectName().toStdString();
    }
}

TEST_P(FormTest, LabelsAndCaptionsAreNotClipped) {
    auto window = form().make();
    window->show();
    for (QLabel* label : window->findChildren<QLabel*>()) {
        if (label->text().isEmpty()) continue;
        EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width())
            << label->text().toStdString();
    }
    for (QAbstractButton* b : window->findChildren<QAbstractButton*>())
        EXPECT_LE(b->sizeHint().width(), b->width() + 8) << b->text().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Forms, FormTest, ::testing::Values(0u, 1u, 2u),
                         [](const auto& info) { return std::string(Forms()[info.param].name); });

TEST(NameFilters, FromTheOtherPlatformsForm) {
    struct Case {
        QString filter;
        QStringList extra;
        QStringList expected;
    };
    const Case cases[] = {
        {frmConfiguration::BrowseFilter, {}, {"Batch file (*.bat *.cmd)", "All files (*)"}},
        {frmConfiguration::BrowseFilter, {"*.sh"}, {"Batch file (*.bat *.cmd *.sh)", "All files (*)"}},
        {"Text|*.txt", {}, {"Text (*.txt)"}},
        {"Logs (*.log)|*.log;;*.old|", {"*.log"}, {"Logs (*.log *.old)"}},
        {"", {}, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(dialogs::NameFiltersFromCommonDialog(c.filter, c.extra), c.expected) << c.filter.toStdString();
}

}  // namespace
