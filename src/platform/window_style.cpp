#include "platform/window_style.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QIcon>
#include <QLabel>
#include <QLibraryInfo>
#include <QTranslator>

// The images are compiled into the program's library, which a static link would otherwise drop.
static void initResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace platform {
namespace {

// On Linux Qt names a drop-down list after its current entry and leaves the name to a label
// relation, so a list of hours is spoken "00". A list given a name of its own is spoken by it,
// with the entry as its value.
class NamedComboBox : public QAccessibleWidget {
public:
    explicit NamedComboBox(QComboBox* box) : QAccessibleWidget(box, QAccessible::ComboBox) {}

    QString text(QAccessible::Text kind) const override
    {
        const auto* box = static_cast<const QComboBox*>(widget());
        switch (kind) {
        case QAccessible::Name: return box->accessibleName();
        case QAccessible::Value: return box->currentText();
        default: return QAccessibleWidget::text(kind);
        }
    }
    QStringList actionNames() const override { return {showMenuAction()}; }
    void doAction(const QString& action) override
    {
        if (action == showMenuAction())
            static_cast<QComboBox*>(widget())->showPopup();
    }
};

QAccessibleInterface* namedComboBox(const QString& className, QObject* object)
{
    auto* box = qobject_cast<QComboBox*>(object);
    if (className != QLatin1String("QComboBox") || !box || box->accessibleName().isEmpty())
        return nullptr;
    return new NamedComboBox(box);
}

} // namespace

void installJapaneseEnvironment(QApplication& app)
{
    static bool done = false;
    if (done)
        return;
    done = true;
    initResources();
    QFont::insertSubstitutions(QStringLiteral("ＭＳ Ｐゴシック"),
                               {QStringLiteral("MS PGothic"), QStringLiteral("IPAPGothic"),
                                QStringLiteral("IPAPゴシック"), QStringLiteral("Noto Sans CJK JP")});
    QFont::insertSubstitutions(QStringLiteral("MS PGothic"),
                               {QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP")});
    // The whole program reads Japanese, whatever the user's locale: so do Qt's own buttons.
    auto* translator = new QTranslator(&app);
    if (translator->load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(translator);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icon.png")));
    QFont font(QStringLiteral("ＭＳ Ｐゴシック"), 9);
    QApplication::setFont(font);
    QAccessible::installFactory(namedComboBox);
}

QFont msPGothic(double pointSize, bool bold)
{
    QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

void makeFixedDialog(QDialog* dialog, int width, int height)
{
    dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                           | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                           | Qt::MSWindowsFixedSizeDialogHint);
    dialog->setWindowIcon(QIcon(QStringLiteral(":/icon.png")));
    dialog->setFixedSize(width, height);
    dialog->setSizeGripEnabled(false);
}

void place(QWidget* widget, int left, int top, int width, int height)
{
    widget->setGeometry(left, top, width, height);
}

QString plainToolTip(const QString& text)
{
    if (text.isEmpty())
        return {};
    return QStringLiteral("<p style=\"white-space: pre-wrap\">") + text.toHtmlEscaped() + QStringLiteral("</p>");
}

void setLabelText(QLabel* label, const QString& text)
{
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->adjustSize();
}

} // namespace platform
