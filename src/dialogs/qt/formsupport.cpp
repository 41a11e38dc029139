#include "dialogs/qt/formsupport.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QRegularExpression>

#include <cmath>

// Q_INIT_RESOURCE must be used outside of any namespace.
static void InitDialogResources() { Q_INIT_RESOURCE(dialogs); }

namespace telwick::dialogs {

void InitResources() {
    static const bool done = (InitDialogResources(), true);
    (void)done;
}

QIcon ProgramIcon() {
    InitResources();
    QIcon icon;
    for (int size : {16, 32, 64})
        icon.addFile(QStringLiteral(":/telwick/telwick-%1.png").arg(size), QSize(size, size));
    return icon;
}

namespace {

QRect Scaled(const QRect& r, double factor) {
    const int left = static_cast<int>(std::lround(r.left() * factor));
    const int top = static_cast<int>(std::lround(r.top() * factor));
    const int right = static_cast<int>(std::lround((r.left() + r.width()) * factor));
    const int bottom = static_cast<int>(std::lround((r.top() + r.height()) * factor));
    // a line of one pixel stays one pixel high
    return QRect(left, top, std::max(1, right - left), std::max(1, bottom - top));
}

// The controls of a form and of its frames; the inner parts of combos, lists
// and text boxes look after themselves.
void ScaleChildren(QWidget* parent, double factor) {
    for (QWidget* child : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->isWindow()) continue;
        child->setGeometry(Scaled(child->geometry(), factor));
        if (qobject_cast<QGroupBox*>(child)) ScaleChildren(child, factor);
    }
}

// A label that the font of this desktop makes wider or taller than its place
// grows to the right (and evenly up and down) rather than clipping its text;
// the places leave room for that.
void FitLabels(QWidget* form) {
    for (QLabel* label : form->findChildren<QLabel*>()) {
        if (label->text().isEmpty()) continue;
        const QSize hint = label->sizeHint();
        QRect r = label->geometry();
        if (hint.width() > r.width()) r.setWidth(hint.width());
        if (hint.height() > r.height()) {
            r.moveTop(r.top() - (hint.height() - r.height()) / 2);
            r.setHeight(hint.height());
        }
        label->setGeometry(r);
    }
}

}  // namespace

void PrepareForm(QDialog* form) {
    InitResources();
    form->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    form->setWindowIcon(ProgramIcon());
    QSize size = form->size();
    const double factor = form->logicalDpiX() / 96.0;
    if (std::abs(factor - 1.0) > 0.01) {
        ScaleChildren(form, factor);
        size = QSize(static_cast<int>(std::lround(size.width() * factor)),
                     static_cast<int>(std::lround(size.height() * factor)));
    }
    form->setFixedSize(size);
    FitLabels(form);
}

bool EscapePressesCancel(QKeyEvent* event, QAbstractButton* cancel) {
    if (event->key() != Qt::Key_Escape || event->modifiers() != Qt::NoModifier) return false;
    cancel->click();
    return true;
}

int TwipsToPixels(int twips, const QWidget* widget) {
    const int dpi = widget ? widget->logicalDpiX() : 96;
    return static_cast<int>(std::lround(twips * dpi / 1440.0));
}

int CheckValue(const QCheckBox* box) {
    switch (box->checkState()) {
    case Qt::Checked: return 1;
    case Qt::PartiallyChecked: return 2;
    default: return 0;
    }
}

bool SetCheckValue(QCheckBox* box, long long value) {
    switch (value) {
    case 0: box->setCheckState(Qt::Unchecked); return true;
    case 1: box->setCheckState(Qt::Checked); return true;
    case 2: box->setCheckState(Qt::PartiallyChecked); return true;  // makes the box tristate
    default: return false;
    }
}

QStringList NameFiltersFromCommonDialog(const QString& filter, const QStringList& extraFirstPatterns) {
    static const QRegularExpression trailingPatterns(QStringLiteral("\\s*\\([^()]*\\)\\s*$"));
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList result;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i];
        description.remove(trailingPatterns);
        QStringList patterns;
        for (const QString& p : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts))
            patterns << (p.trimmed() == QLatin1String("*.*") ? QStringLiteral("*") : p.trimmed());
        if (result.isEmpty())
            for (const QString& extra : extraFirstPatterns)
                if (!patterns.contains(extra)) patterns << extra;
        result << description.trimmed() + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                      QLatin1Char(')');
    }
    return result;
}

}  // namespace telwick::dialogs
