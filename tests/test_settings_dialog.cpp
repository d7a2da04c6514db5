// The secretary settings window as the user meets it: what it shows on opening, the name rules
// with Enter and the update, the picture buttons, cancel, and what the main window shows afterwards.
// A settings store that cannot be written is tried through the main window with the other unusable files.
#include "main_window/main_frm.h"
#include "platform/failure.h"
#include "platform/picture.h"
#include "settings_dialog/setting_frm.h"
#include "state/module1.h"
#include "support/test_env.h"

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QPushButton>
#include <QTest>

using platform::MsgIcon;
using testing::TestEnv;

namespace {
const QString kSecEmpty = QStringLiteral("秘書の名前を入力して下さい。\r");
const QString kMyEmpty = QStringLiteral("あなたの名前を入力して下さい。\r（半角／全角5）");
const QString kTooLong = QStringLiteral("文字数が多すぎます。\r（5文字以内）");
const QString kMissing = QStringLiteral("指定された画像は存在しません。");
const QSize kStartSize(10, 10), kGirlSize(100, 100), kBmpSize(40, 30);

// A file of the kind a user might pick, made in the test folder; its path ("missing": none made).
QString fixture(const TestEnv& env, const QString& kind)
{
    const QString path = env.path(kind == "hidden" ? ".pic.bmp" : "pic." + kind);
    const QMap<QString, QSize> images{{"start", kStartSize}, {"bmp", kBmpSize}, {"hidden", kBmpSize}, {"jpg", {24, 48}}};
    QImage image(images.value(kind), QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    if (images.contains(kind))
        image.save(path, kind == "jpg" ? "JPG" : "BMP");
    else if (kind == "gif")
        QFile::copy(env.girlPath(), path);
    return path;
}

// Types as a user does, one key press per character.
void type(QWidget* widget, const QString& text)
{
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

// The description of the failure that action throws; empty when it succeeds.
template <class F> QString failureOf(F action)
{
    try {
        action();
    } catch (const platform::Failure& f) {
        return f.description();
    }
    return {};
}

// The settings window over the program-wide values. Without a picture of its own it starts from
// one that no fixture shares the size of.
struct Opened {
    state::Module1 module;
    SETTING_FRM form{module};

    Opened(const TestEnv& env, const QString& picture = "start", const QString& secName = "秘書", const QString& myName = "社長")
    {
        module.SEC_NAME_STR = secName;
        module.MY_NAME_STR = myName;
        module.SEC_PIC_PATH = fixture(env, picture);
    }
    bool open() { return form.prepare() && (form.show(), QTest::qWaitForWindowActive(&form)); }
    template <class T = QWidget> T* get(const QString& name) { return form.findChild<T*>(name); }
    QLineEdit* field(const QString& name) { return get<QLineEdit>(name); }
    QSize pictureSize() { return get<platform::PictureBox>("SEC_PICT")->picture().size(); }
    void key(Qt::Key k) { QTest::keyClick(form.windowHandle(), k); } // to whatever has the focus
    QString focused() { return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : "none"; }
    void retype(const QString& name, const QString& text) { field(name)->clear(), type(field(name), text); }
    void click(const QString& name) { QTest::mouseClick(get<QPushButton>(name), Qt::LeftButton); }
};

// Boxes as "title | icon | buttons | prompt", so that one comparison checks all of each.
QString describe(const platform::MessageRequest& r)
{
    return QStringLiteral("%1 | icon %2 | buttons %3 | %4").arg(r.title).arg(int(r.icon)).arg(int(r.buttons)).arg(r.prompt);
}
QStringList boxes(const TestEnv& env)
{
    QStringList result;
    for (const platform::MessageRequest& r : env.shown())
        result << describe(r);
    return result;
}
// The one OK box expected, or none for an empty prompt.
QStringList box(const QString& prompt, const QString& title = "エラー発生！", MsgIcon icon = MsgIcon::Exclamation)
{
    return prompt.isEmpty() ? QStringList() : QStringList{describe({prompt, title, icon})};
}

bool nothingStored(const TestEnv& env)
{
    return !env.hasSetting(state::kSecName.key) && !env.hasSetting(state::kMyName.key) && !env.hasSetting(state::kSecPic.key);
}
} // namespace

class TestSettingsDialog : public QObject {
    Q_OBJECT
private slots:
    // Stored names of 8 characters show whole and can only shrink; typing stops at 6.
    void opening_data()
    {
        QTest::addColumn<QString>("picture");
        QTest::addColumn<QSize>("shown");
        QTest::newRow("with its picture") << "gif" << kGirlSize;
        QTest::newRow("picture gone since start-up") << "missing" << QSize(0, 0);
    }
    void opening()
    {
        QFETCH(QString, picture);
        QFETCH(QSize, shown);
        TestEnv env;
        Opened w(env, picture, "ひしょのなまえで", "ABCDEFGH");
        QVERIFY(w.open());
        QCOMPARE(w.form.windowTitle(), "秘書の設定");
        QCOMPARE(w.form.size(), QSize(418, 184));
        QCOMPARE(w.pictureSize(), shown);
        QVERIFY(env.shown().isEmpty());
        QStringList order{w.focused()};
        for (int i = 0; i < 6; ++i)
            w.key(Qt::Key_Tab), order << w.focused();
        QCOMPARE(order, QStringList({"CMD_PICTURE", "CMD_UPDATE", "CMD_CANCEL", "CMD_REDO", "M_NAME_TEXT", "S_NAME_TEXT", "CMD_PICTURE"}));
        for (auto [name, caption, stored] : {std::tuple{"S_NAME_TEXT", "秘書の名前　：", "ひしょのなまえで"}, {"M_NAME_TEXT", "あなたの名前　：", "ABCDEFGH"}}) {
            QLineEdit* field = w.field(name);
            QCOMPARE(field->text(), stored);
            // A screen reader names the field by its caption.
            QCOMPARE(QAccessible::queryAccessibleInterface(field)->text(QAccessible::Name), caption);
            field->setFocus();
            field->end(false);
            type(field, "x");
            QCOMPARE(field->text(), stored);
            for (int i = 0; i < 3; ++i)
                w.key(Qt::Key_Backspace);
            type(field, "xyz");
            QCOMPARE(field->text(), QString(stored).left(5) + "x");
        }
        w.key(Qt::Key_Escape); // no cancel button
        QVERIFY(w.form.isVisible());
        w.click("CMD_CANCEL"); // usable without its picture too
        QVERIFY(!w.form.isVisible());
        QVERIFY(nothingStored(env));
    }

    // Each pair of names through Enter in both fields, then Enter on the focused update button.
    void nameRules_data()
    {
        QTest::addColumn<QString>("secName");
        QTest::addColumn<QString>("myName");
        QTest::addColumn<QString>("prompt"); // empty: both pass
        QTest::addColumn<QString>("stopsAt"); // the focus after Enter in the fields
        QTest::newRow("5 half-width") << "abcde" << "vwxyz" << "" << "CMD_UPDATE";
        QTest::newRow("5 full-width") << "秘書課長代" << "代表取締役" << "" << "CMD_UPDATE";
        QTest::newRow("5 mixed") << "A秘b書C" << "社1長2X" << "" << "CMD_UPDATE";
        QTest::newRow("spaces kept and counted") << " 受付 " << "\u3000社長\u3000" << "" << "CMD_UPDATE";
        QTest::newRow("6 half-width secretary") << "abcdef" << "社長" << kTooLong << "S_NAME_TEXT";
        QTest::newRow("6 full-width user") << "秘書" << "代表取締役社" << kTooLong << "M_NAME_TEXT";
        QTest::newRow("6 mixed with spaces") << " 受付係長 " << "社長" << kTooLong << "S_NAME_TEXT";
        QTest::newRow("blank secretary") << " \u3000 " << "社長" << kSecEmpty << "S_NAME_TEXT";
        QTest::newRow("empty user") << "秘書" << "" << kMyEmpty << "M_NAME_TEXT";
        QTest::newRow("both empty: secretary first") << "" << "" << kSecEmpty << "S_NAME_TEXT";
    }
    void nameRules()
    {
        QFETCH(QString, secName);
        QFETCH(QString, myName);
        QFETCH(QString, prompt);
        QFETCH(QString, stopsAt);
        TestEnv env;
        Opened w(env);
        QVERIFY(w.open());
        w.retype("S_NAME_TEXT", secName);
        w.retype("M_NAME_TEXT", myName);
        w.field("S_NAME_TEXT")->setFocus();
        w.key(Qt::Key_Return);
        if (w.focused() == "M_NAME_TEXT")
            w.key(Qt::Key_Return);
        QCOMPARE(w.focused(), stopsAt);
        QCOMPARE(boxes(env), box(prompt));
        // The presses went to the fields alone: no button took them, none is the window's default.
        QVERIFY(w.form.isVisible() && env.fileRequests().isEmpty() && nothingStored(env));
        for (QPushButton* button : w.form.findChildren<QPushButton*>())
            QVERIFY2(!button->isDefault() || stopsAt == "CMD_UPDATE", qPrintable(button->objectName()));

        env.clearShown();
        w.get("CMD_UPDATE")->setFocus();
        w.key(Qt::Key_Return);
        QCOMPARE(boxes(env), box(prompt));
        QCOMPARE(w.field("S_NAME_TEXT")->text(), secName);
        QCOMPARE(w.form.isVisible(), !prompt.isEmpty());
        if (prompt.isEmpty()) { // stored as typed, the picture too
            const QStringList stored{env.setting(state::kSecName.key), env.setting(state::kMyName.key), env.setting(state::kSecPic.key)};
            QCOMPARE(stored, QStringList({secName, myName, env.path("pic.start")}));
            QCOMPARE(QStringList({w.module.SEC_NAME_STR, w.module.MY_NAME_STR}), QStringList({secName, myName}));
        } else {
            QCOMPARE(w.focused(), "CMD_UPDATE");
            QCOMPARE(w.module.SEC_NAME_STR, "秘書");
            QVERIFY(nothingStored(env));
        }
    }

    // Enter straight after opening opens the picture dialog (answered by the test);
    // "ﾃﾞﾌｫﾙﾄに戻す" goes back to girl.gif. Broken pictures chosen here are tried with the
    // other broken files through the main window.
    void pictureButtons_data()
    {
        QTest::addColumn<QString>("kind"); // "" is a cancelled dialog
        QTest::addColumn<QString>("message");
        QTest::addColumn<QSize>("shown");
        QTest::newRow("bitmap") << "bmp" << "" << kBmpSize;
        QTest::newRow("GIF") << "gif" << "" << kGirlSize;
        QTest::newRow("JPEG") << "jpg" << "" << QSize(24, 48);
        QTest::newRow("cancelled") << "" << "" << kStartSize;
        QTest::newRow("missing") << "missing" << kMissing << kStartSize;
        QTest::newRow("hidden") << "hidden" << kMissing << kStartSize;
        QTest::newRow("default") << "default" << "" << kGirlSize;
        QTest::newRow("default gone") << "default gone" << "" << kStartSize;
    }
    void pictureButtons()
    {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        QFETCH(QSize, shown);
        TestEnv env;
        Opened w(env);
        QVERIFY(w.open());
        w.retype("S_NAME_TEXT", "受付");
        QString chosen = env.girlPath();
        if (kind.startsWith("default")) {
            if (kind.endsWith("gone"))
                QFile::remove(chosen);
            w.click("CMD_REDO");
            const QString failure = failureOf([&] { platform::loadPicture(chosen); }); // the loader's own words
            QCOMPARE(boxes(env), box(failure, "ミルドカ", MsgIcon::None));
        } else {
            chosen = kind.isEmpty() ? QString() : fixture(env, kind);
            env.answerFile(kind.isEmpty() ? std::nullopt : std::optional<QString>(chosen));
            w.get("CMD_PICTURE")->setFocus();
            w.key(Qt::Key_Return);
            QCOMPARE(env.fileRequests().size(), 1);
            QCOMPARE(env.fileRequests()[0].filter, "ﾋﾞｯﾄﾏｯﾌﾟﾌｧｲﾙ(*.bmp)|*.bmp|GIFﾌｧｲﾙ(*.gif)|*.gif|JPGﾌｧｲﾙ(*.jpg)|*.jpg|");
            QCOMPARE(env.fileRequests()[0].filterIndex, 1);
            QVERIFY(env.fileRequests()[0].hideReadOnly);
            QCOMPARE(boxes(env), box(message));
        }
        QCOMPARE(w.pictureSize(), shown);
        // The default path is taken even when the default picture cannot be shown.
        QCOMPARE(w.module.SEC_PIC_PATH, shown != kStartSize || kind.startsWith("default") ? chosen : env.path("pic.start"));
        QVERIFY(w.form.isVisible());
        QCOMPARE(w.field("S_NAME_TEXT")->text(), "受付");
        QVERIFY(nothingStored(env));
    }

    // Started over a stored picture path that has gone; the secretary's name typed as 受付.
    void mainWindowAfterwards_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QSize>("picture"); // what the main window shows
        QTest::addColumn<QString>("stored"); // the file SEC_PIC names afterwards
        QTest::newRow("update replaces the stale path") << QStringList{"CMD_UPDATE"} << kGirlSize << "girl.gif";
        QTest::newRow("chosen, update") << QStringList{"CMD_PICTURE", "CMD_UPDATE"} << kBmpSize << "pic.bmp";
        QTest::newRow("chosen, default, update") << QStringList{"CMD_PICTURE", "CMD_REDO", "CMD_UPDATE"} << kGirlSize << "girl.gif";
        QTest::newRow("chosen, cancel") << QStringList{"CMD_PICTURE", "CMD_CANCEL"} << kBmpSize << "gone.bmp";
        QTest::newRow("chosen, close box") << QStringList{"CMD_PICTURE", "close"} << kBmpSize << "gone.bmp";
    }
    void mainWindowAfterwards()
    {
        QFETCH(QStringList, steps);
        QFETCH(QSize, picture);
        QFETCH(QString, stored);
        TestEnv env;
        env.setSetting(state::kSecPic.key, env.path("gone.bmp"));
        env.answerFile(fixture(env, "bmp"));
        state::Module1 module;
        MAIN_FRM main(module);
        main.startUp();
        main.show();
        main.refresh();
        bool ran = false;
        testing::onNextModal([&](QWidget* modal) {
            QVERIFY(ran = qobject_cast<SETTING_FRM*>(modal));
            auto* name = modal->findChild<QLineEdit*>("S_NAME_TEXT");
            name->clear();
            type(name, "受付");
            for (const QString& step : steps)
                step == "close" ? void(modal->close()) : QTest::mouseClick(modal->findChild<QPushButton*>(step), Qt::LeftButton);
        });
        main.mnuSet_Click();
        QVERIFY(ran);
        QVERIFY(env.shown().isEmpty());
        const bool updated = stored != "gone.bmp";
        QCOMPARE(main.findChild<QLabel*>("NAME_LABEL")->text(), updated ? "受付：" : "秘書：");
        QCOMPARE(main.findChild<platform::PictureBox*>("SEC_PICT")->picture().size(), picture);
        const QStringList settings{env.setting(state::kSecName.key), env.setting(state::kMyName.key), env.setting(state::kSecPic.key)};
        QCOMPARE(settings, QStringList({updated ? "受付" : "", updated ? "社長" : "", env.path(stored)}));

        // The next start reads the store again: a picture that was not stored is gone.
        state::Module1 next;
        MAIN_FRM restarted(next);
        restarted.startUp();
        QCOMPARE(next.SEC_PIC_PATH, env.path(updated ? stored : "girl.gif"));
    }
};

QTEST_MAIN(TestSettingsDialog)
#include "test_settings_dialog.moc"
