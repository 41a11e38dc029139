// Renders each dialog, filled from the demo database, offscreen to a PNG file:
// <build>/screenshots/ (or the folder given as the first argument). A quick
// look without a desktop; the documentation's pictures, with window frames,
// come from scripts/screenshots.sh.
#include <QDir>
#include <QPushButton>
#include <QTreeWidget>

#include "database/modDatabase.h"
#include "dialogs/dialogtest.h"
#include "dialogs/qt/frmConfiguration.h"
#include "dialogs/qt/frmConfigurations.h"
#include "dialogs/qt/frmDatabase.h"
#include "monitor/modMain.h"

using namespace telwick::test;

namespace {

QString outputDir;

void Save(QWidget& window, const char* file) {
    window.show();
    QApplication::processEvents();
    const QString path = QDir(outputDir).filePath(QString::fromLatin1(file));
    const QImage image = window.grab().toImage();
    ASSERT_FALSE(image.isNull());
    ASSERT_TRUE(image.save(path)) << path.toStdString();
    std::printf("wrote %s\n", qPrintable(path));
}

class Screenshots : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        StoreConfigurations({
            "1;;3;1;1;0;;",
            "3;4;;0;1;1;/opt/telwick/backup-failed.sh;",
            "2;2;5;1;1;0;;",
            ";3;;0;1;0;;",
            "5;;;1;0;1;/opt/telwick/notify-lab.sh;",
        });
    }
};

TEST_F(Screenshots, DatabaseConnection) {
    modDatabase::DBServer = "dbhost.corvane.local";
    modDatabase::DBTrustedConnection = false;
    modDatabase::DBUsername = "telwick";
    modDatabase::DBPassword = "monitoring";
    frmDatabase form;
    Save(form, "database-connection.png");
}

TEST_F(Screenshots, Configurations) {
    frmConfigurations form;
    auto* list = form.findChild<QTreeWidget*>("lstConfigurations");
    list->setCurrentItem(list->topLevelItem(1));
    Save(form, "configurations.png");
}

TEST_F(Screenshots, Configuration) {
    frmConfiguration form("1;4;3;0;1;1;/opt/telwick/backup-failed.sh;");
    Save(form, "configuration.png");
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const QString binary = qEnvironmentVariable("TELWICK_BINARY_DIR", QStringLiteral("."));
    outputDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : binary + QStringLiteral("/screenshots");
    QDir().mkpath(outputDir);
    return RUN_ALL_TESTS();
}
