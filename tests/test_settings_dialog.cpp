// The secretary settings window as the user meets it: layout and focus, the name rules and the
// Enter key, the picture buttons, update and cancel, and what the main window shows afterwards.
#include "main_window/main_frm.h"
#include "platform/failure.h"
#include "platform/picture.h"
#include "platform/settings_store.h"
#include "settings_dialog/setting_frm.h"
#include "state/module1.h"
#include "support/test_env.h"

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using platform::MsgIcon;
using testing::TestEnv;

namespace {
const QString kErrorTitle = QStringLiteral("エラー発生！");
const QString kSecEmpty = QStringLiteral("秘書の名前を入力して下さい。\r");
const QString kMyEmpty = QStringLiteral("あなたの名前を入力して下さい。\r（半角／全角5）");
const QString kTooLong = QStringLiteral("文字数が多すぎます。\r（5文字以内）");
const QString kMissing = QStringLiteral("指定された画像は存在しません。");
const QString kFilter = QStringLiteral("ﾋﾞｯﾄﾏｯﾌﾟﾌｧｲﾙ(*.bmp)|*.bmp|GIFﾌｧｲﾙ(*.gif)|*.gif|JPGﾌｧｲﾙ(*.jpg)|*.jpg|");
const QSize kStartSize(10, 10);

void saveImage(const QString& path, QSize size, const char* format)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    if (!image.save(path, format))
        qFatal("cannot write %s", qPrintable(path));
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// A picture file of the kind a user might pick, made in the test folder; its path.
QString fixture(const TestEnv& env, const QString& kind)
{
    const QString path = env.path(kind == "hidden" ? ".pic.bmp" : kind == "text" ? "note.gif" : "pic." + kind);
    if (kind == "bmp" || kind == "hidden")
        saveImage(path, {40, 30}, "BMP");
    else if (kind == "jpg")
        saveImage(path, {24, 48}, "JPG");
    else if (kind == "gif")
        QFile::copy(env.girlPath(), path);
    else if (kind == "text")
        writeFile(path, "GIF89a is what this file only claims to be\n");
    else if (kind == "cut") {
        saveImage(env.path("whole.jpg"), {64, 64}, "JPG");
        QFile whole(env.path("whole.jpg"));
        whole.open(QIODevice::ReadOnly);
        const QByteArray bytes = whole.readAll();
        writeFile(path, bytes.left(bytes.size() / 2));
    } else if (kind == "folder")
        return env.folder();
    return path; // "missing": nothing made
}

// Types as a user does, one key press per character.
void type(QWidget* widget, const QString& text)
{
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

// The settings window over the program-wide values, shown and active. Without a picture of its
// own it starts from one that no fixture shares the size of.
struct Opened {
    state::Module1 module;
    SETTING_FRM form{module};

    Opened(const TestEnv& env, const QString& picture = {}, const QString& secName = "秘書", const QString& myName = "社長")
    {
        if (picture.isEmpty())
            saveImage(env.path("start.bmp"), kStartSize, "BMP");
        module.SEC_NAME_STR = secName;
        module.MY_NAME_STR = myName;
        module.SEC_PIC_PATH = picture.isEmpty() ? env.path("start.bmp") : picture;
    }
    bool open()
    {
        if (!form.prepare())
            return false;
        form.show();
        return QTest::qWaitForWindowActive(&form);
    }
    template <class T = QWidget> T* get(const QString& name) { return form.findChild<T*>(name); }
    QLineEdit* field(const QString& name) { return get<QLineEdit>(name); }
    QSize pictureSize() { return get<platform::PictureBox>("SEC_PICT")->picture().size(); }
    // A key as the user presses it: to whatever has the focus.
    void key(Qt::Key k) { QTest::keyClick(form.windowHandle(), k); }
    QString focused() { return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : "none"; }
    void retype(const QString& name, const QString& text)
    {
        field(name)->clear();
        type(field(name), text);
    }
    void click(const QString& name) { QTest::mouseClick(get<QPushButton>(name), Qt::LeftButton); }
};

// A box as the test expects it, and every box shown, so that one comparison checks prompt,
// title, icon and buttons together and reads well when it fails.
QString box(const QString& prompt, const QString& title = kErrorTitle, MsgIcon icon = MsgIcon::Exclamation)
{
    return QStringLiteral("%1 | icon %2 | OK only | %3").arg(title).arg(int(icon)).arg(prompt);
}
QStringList boxes(const TestEnv& env)
{
    QStringList result;
    for (const platform::MessageRequest& r : env.shown())
        result << QStringLiteral("%1 | icon %2 | %3 | %4")
                      .arg(r.title)
                      .arg(int(r.icon))
                      .arg(r.buttons == platform::MsgButtons::Ok ? "OK only" : "Yes/No")
                      .arg(r.prompt);
    return result;
}

bool nothingStored(const TestEnv& env)
{
    return !env.hasSetting(state::kKeySecName) && !env.hasSetting(state::kKeyMyName) && !env.hasSetting(state::kKeySecPic);
}
} // namespace

class TestSettingsDialog : public QObject {
    Q_OBJECT
private slots:
    void opening_data()
    {
        QTest::addColumn<QString>("secName");
        QTest::addColumn<QString>("myName");
        QTest::addColumn<QString>("picture");
        QTest::addColumn<QSize>("shown");
        QTest::newRow("names and picture") << "秘書" << "社長" << "gif" << QSize(100, 100);
        QTest::newRow("8 characters shown whole") << "ひしょのなまえで" << "ABCDEFGH" << "jpg" << QSize(24, 48);
        QTest::newRow("picture gone since start-up") << "秘書" << "社長" << "missing" << QSize(0, 0);
        QTest::newRow("picture unreadable") << "秘書" << "社長" << "text" << QSize(0, 0);
    }
    void opening()
    {
        QFETCH(QString, secName);
        QFETCH(QString, myName);
        QFETCH(QString, picture);
        QFETCH(QSize, shown);
        TestEnv env;
        Opened w(env, fixture(env, picture), secName, myName);
        QVERIFY(w.open());
        QCOMPARE(w.field("S_NAME_TEXT")->text(), secName);
        QCOMPARE(w.field("M_NAME_TEXT")->text(), myName);
        QCOMPARE(w.pictureSize(), shown);
        QCOMPARE(w.focused(), "CMD_PICTURE");
        QVERIFY(env.shown().isEmpty());
        // Still usable without its picture.
        w.click("CMD_CANCEL");
        QVERIFY(!w.form.isVisible());
    }

    void tabOrder()
    {
        TestEnv env;
        Opened w(env);
        QVERIFY(w.open());
        QStringList order;
        for (int i = 0; i < 6; ++i) {
            w.key(Qt::Key_Tab);
            order << w.focused();
        }
        QCOMPARE(order, QStringList({"CMD_UPDATE", "CMD_CANCEL", "CMD_REDO", "M_NAME_TEXT", "S_NAME_TEXT", "CMD_PICTURE"}));
    }

    // What a screen reader says for each control: the fields are named by their caption labels.
    void accessibleNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("spoken");
        QTest::newRow("window") << "SETTING_FRM" << "秘書の設定";
        QTest::newRow("frame") << "Frame1" << "名前の設定";
        QTest::newRow("secretary's name") << "S_NAME_TEXT" << "秘書の名前　：";
        QTest::newRow("user's name") << "M_NAME_TEXT" << "あなたの名前　：";
        QTest::newRow("picture") << "CMD_PICTURE" << "画像変更";
        QTest::newRow("default picture") << "CMD_REDO" << "ﾃﾞﾌｫﾙﾄに戻す";
        QTest::newRow("update") << "CMD_UPDATE" << "更新";
        QTest::newRow("cancel") << "CMD_CANCEL" << "キャンセル";
    }
    void accessibleNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, spoken);
        TestEnv env;
        Opened w(env);
        QVERIFY(w.open());
        QWidget* widget = name == w.form.objectName() ? &w.form : w.get(name);
        QVERIFY(widget);
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
        QVERIFY(accessible);
        QCOMPARE(accessible->text(QAccessible::Name), spoken);
    }

    void typingLimit_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("backspaces");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::newRow("sixth typed, seventh refused") << "" << 0 << "abcdefg" << "abcdef";
        QTest::newRow("full-width alike") << "秘書" << 0 << "一二三四五" << "秘書一二三四";
        QTest::newRow("8 stored cannot grow") << "あいうえおかきく" << 0 << "x" << "あいうえおかきく";
        QTest::newRow("8 stored shrinks, regrows to 6") << "あいうえおかきく" << 3 << "xyz" << "あいうえおx";
    }
    void typingLimit()
    {
        QFETCH(QString, stored);
        QFETCH(int, backspaces);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        TestEnv env;
        Opened w(env, {}, stored, stored);
        QVERIFY(w.open());
        for (const char* name : {"S_NAME_TEXT", "M_NAME_TEXT"}) {
            QLineEdit* field = w.field(name);
            field->setFocus();
            field->end(false);
            for (int i = 0; i < backspaces; ++i)
                w.key(Qt::Key_Backspace);
            type(field, typed);
            QCOMPARE(field->text(), shown);
        }
    }

    void nameRulesOnUpdate_data()
    {
        QTest::addColumn<QString>("secName");
        QTest::addColumn<QString>("myName");
        QTest::addColumn<QString>("prompt"); // empty: both pass
        QTest::newRow("5 half-width") << "abcde" << "vwxyz" << "";
        QTest::newRow("5 full-width") << "秘書課長代" << "代表取締役" << "";
        QTest::newRow("5 mixed") << "A秘b書C" << "社1長2X" << "";
        QTest::newRow("spaces kept and counted") << " 受付 " << "\u3000社長\u3000" << "";
        QTest::newRow("6 half-width secretary") << "abcdef" << "社長" << kTooLong;
        QTest::newRow("6 full-width user") << "秘書" << "代表取締役社" << kTooLong;
        QTest::newRow("6 with spaces") << " 受付係長 " << "社長" << kTooLong;
        QTest::newRow("blank secretary") << " \u3000 " << "社長" << kSecEmpty;
        QTest::newRow("empty user") << "秘書" << "" << kMyEmpty;
        QTest::newRow("both empty: secretary first") << "" << "" << kSecEmpty;
        QTest::newRow("both too long: secretary first") << "abcdef" << "" << kTooLong;
    }
    void nameRulesOnUpdate()
    {
        QFETCH(QString, secName);
        QFETCH(QString, myName);
        QFETCH(QString, prompt);
        TestEnv env;
        Opened w(env);
        QVERIFY(w.open());
        w.retype("S_NAME_TEXT", secName);
        w.retype("M_NAME_TEXT", myName);
        w.get("CMD_UPDATE")->setFocus();
        w.key(Qt::Key_Return);
        if (prompt.isEmpty()) {
            QVERIFY(env.shown().isEmpty());
            QVERIFY(!w.form.isVisible());
            QCOMPARE(env.setting(state::kKeySecName), secName);
            QCOMPARE(env.setting(state::kKeyMyName), myName);
            QCOMPARE(w.module.SEC_NAME_STR, secName);
            QCOMPARE(w.module.MY_NAME_STR, myName);
            return;
        }
        QCOMPARE(boxes(env), QStringList{box(prompt)});
        QVERIFY(w.form.isVisible());
        QCOMPARE(w.focused(), "CMD_UPDATE");
        QCOMPARE(w.module.SEC_NAME_STR, "秘書");
        QCOMPARE(w.field("S_NAME_TEXT")->text(), secName);
        QVERIFY(nothingStored(env));
    }

    void enterInNameFields_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("focusAfter");
        QTest::addColumn<QString>("prompt");
        QTest::newRow("secretary valid") << "S_NAME_TEXT" << "受付" << "M_NAME_TEXT" << "";
        QTest::newRow("secretary blank") << "S_NAME_TEXT" << "\u3000" << "S_NAME_TEXT" << kSecEmpty;
        QTest::newRow("secretary too long") << "S_NAME_TEXT" << "123456" << "S_NAME_TEXT" << kTooLong;
        QTest::newRow("user valid") << "M_NAME_TEXT" << "部長" << "CMD_UPDATE" << "";
        QTest::newRow("user empty") << "M_NAME_TEXT" << "" << "M_NAME_TEXT" << kMyEmpty;
    }
    void enterInNameFields()
    {
        QFETCH(QString, field);
        QFETCH(QString, text);
        QFETCH(QString, focusAfter);
        QFETCH(QString, prompt);
        TestEnv env;
        Opened w(env);
        QVERIFY(w.open());
        w.retype(field, text);
        w.field(field)->setFocus();
        w.key(Qt::Key_Return);
        QCOMPARE(w.focused(), focusAfter);
        QCOMPARE(boxes(env), prompt.isEmpty() ? QStringList() : QStringList{box(prompt)});
        QCOMPARE(w.field(field)->text(), text);
        // The press went to the field alone: no button took it, none is the window's default.
        QVERIFY(w.form.isVisible());
        QVERIFY(env.fileRequests().isEmpty());
        QVERIFY(nothingStored(env));
        if (focusAfter.endsWith("_TEXT"))
            for (QPushButton* button : w.form.findChildren<QPushButton*>())
                QVERIFY2(!button->isDefault(), qPrintable(button->objectName()));
    }

    void keyboardOnly()
    {
        TestEnv env;
        Opened w(env);
        QVERIFY(w.open());
        w.key(Qt::Key_Escape);
        QVERIFY(w.form.isVisible());
        w.key(Qt::Key_Return); // the picture button has the focus; the dialog is cancelled
        QCOMPARE(env.fileRequests().size(), 1);
        QCOMPARE(env.fileRequests()[0].filter, kFilter);
        QCOMPARE(env.fileRequests()[0].filterIndex, 1);
        QVERIFY(env.fileRequests()[0].hideReadOnly);
        w.field("S_NAME_TEXT")->setFocus();
        w.key(Qt::Key_Return);
        w.key(Qt::Key_Return);
        QCOMPARE(w.focused(), "CMD_UPDATE");
        QVERIFY(nothingStored(env));
        w.key(Qt::Key_Return);
        QVERIFY(!w.form.isVisible());
        QCOMPARE(env.setting(state::kKeySecPic), env.path("start.bmp"));
        QCOMPARE(env.fileRequests().size(), 1);
    }

    void choosingAPicture_data()
    {
        QTest::addColumn<QString>("kind"); // "" is a cancelled dialog
        QTest::addColumn<QString>("message");
        QTest::addColumn<QSize>("shown");
        QTest::newRow("bitmap") << "bmp" << "" << QSize(40, 30);
        QTest::newRow("GIF") << "gif" << "" << QSize(100, 100);
        QTest::newRow("JPEG") << "jpg" << "" << QSize(24, 48);
        QTest::newRow("cancelled") << "" << "" << kStartSize;
        QTest::newRow("missing") << "missing" << kMissing << kStartSize;
        QTest::newRow("hidden") << "hidden" << kMissing << kStartSize;
        QTest::newRow("folder") << "folder" << kMissing << kStartSize;
        QTest::newRow("text named .gif") << "text" << "" << kStartSize;
        QTest::newRow("truncated") << "cut" << "" << kStartSize;
    }
    void choosingAPicture()
    {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        QFETCH(QSize, shown);
        TestEnv env;
        Opened w(env);
        QVERIFY(w.open());
        const QString chosen = kind.isEmpty() ? QString() : fixture(env, kind);
        env.answerFile(kind.isEmpty() ? std::nullopt : std::optional<QString>(chosen));
        w.click("CMD_PICTURE");
        QCOMPARE(env.fileRequests().size(), 1);
        QCOMPARE(boxes(env), message.isEmpty() ? QStringList() : QStringList{box(message)});
        QCOMPARE(w.pictureSize(), shown);
        const bool changed = shown != kStartSize;
        QCOMPARE(w.module.SEC_PIC_PATH, changed ? chosen : env.path("start.bmp"));
        QVERIFY(w.form.isVisible());
        QCOMPARE(w.field("S_NAME_TEXT")->text(), "秘書");
        QVERIFY(nothingStored(env));
    }

    void backToDefault_data()
    {
        QTest::addColumn<bool>("girlThere");
        QTest::newRow("default picture there") << true;
        QTest::newRow("default picture gone") << false;
    }
    void backToDefault()
    {
        QFETCH(bool, girlThere);
        TestEnv env;
        if (!girlThere)
            QFile::remove(env.girlPath());
        Opened w(env);
        QVERIFY(w.open());
        w.retype("S_NAME_TEXT", "受付");
        w.click("CMD_REDO");
        QCOMPARE(w.module.SEC_PIC_PATH, env.folder() + "/girl.gif");
        QCOMPARE(w.pictureSize(), girlThere ? QSize(100, 100) : kStartSize);
        QString failure; // the loader's own description, when it fails
        try {
            platform::loadPicture(env.girlPath());
        } catch (const platform::Failure& f) {
            failure = f.description();
        }
        QCOMPARE(failure.isEmpty(), girlThere);
        QCOMPARE(boxes(env), girlThere ? QStringList() : QStringList{box(failure, "ミルドカ", MsgIcon::None)});
        QVERIFY(w.form.isVisible());
        QCOMPARE(w.field("S_NAME_TEXT")->text(), "受付");
        QVERIFY(nothingStored(env));
    }

    void unwritableStore()
    {
        TestEnv env;
        writeFile(env.path("blocker"), "a file where a folder should be");
        platform::SettingsStore::useFile(env.path("blocker/settings.ini"));
        Opened w(env);
        QVERIFY(w.open());
        w.retype("S_NAME_TEXT", "受付");
        w.retype("M_NAME_TEXT", "部長");
        w.click("CMD_UPDATE");
        QString failure; // what the store itself says about the write
        try {
            state::writeSetting(state::kKeySecName, "受付");
        } catch (const platform::Failure& f) {
            failure = f.description();
        }
        QVERIFY(!failure.isEmpty());
        QCOMPARE(boxes(env), QStringList{box(failure, "Internal Error", MsgIcon::Critical)});
        QVERIFY(w.form.isVisible());
        // The first write failed: what came before it stays, what came after never happened.
        QCOMPARE(w.module.SEC_NAME_STR, "受付");
        QCOMPARE(w.module.MY_NAME_STR, "社長");
        QVERIFY(!QFile::exists(env.path("blocker/settings.ini")));
    }

    void mainWindowAfterwards_data()
    {
        QTest::addColumn<bool>("staleStored"); // SEC_PIC names a file that has gone
        QTest::addColumn<QStringList>("steps"); // after typing 受付 as the secretary's name
        QTest::addColumn<QString>("label");
        QTest::addColumn<QSize>("mainPicture");
        QTest::addColumn<QString>("stored"); // what SEC_PIC holds afterwards: "girl", "bmp" or "" (nothing)
        const QStringList update{"CMD_UPDATE"};
        QTest::newRow("update") << false << update << "受付：" << QSize(100, 100) << "girl";
        QTest::newRow("stale path replaced") << true << update << "受付：" << QSize(100, 100) << "girl";
        QTest::newRow("chosen, update") << false << QStringList{"CMD_PICTURE", "CMD_UPDATE"} << "受付：" << QSize(40, 30) << "bmp";
        QTest::newRow("chosen, default, update")
            << false << QStringList{"CMD_PICTURE", "CMD_REDO", "CMD_UPDATE"} << "受付：" << QSize(100, 100) << "girl";
        QTest::newRow("chosen, cancel") << false << QStringList{"CMD_PICTURE", "CMD_CANCEL"} << "秘書：" << QSize(40, 30) << "";
        QTest::newRow("chosen, close box") << false << QStringList{"CMD_PICTURE", "close"} << "秘書：" << QSize(40, 30) << "";
    }
    void mainWindowAfterwards()
    {
        QFETCH(bool, staleStored);
        QFETCH(QStringList, steps);
        QFETCH(QString, label);
        QFETCH(QSize, mainPicture);
        QFETCH(QString, stored);
        TestEnv env;
        const QString stale = env.path("gone.bmp");
        if (staleStored)
            env.setSetting(state::kKeySecPic, stale);
        const QString bmp = fixture(env, "bmp");
        env.answerFile(bmp);
        state::Module1 module;
        MAIN_FRM main(module);
        main.startUp();
        main.show();
        main.refresh();
        bool ran = false;
        testing::onNextModal([&](QWidget* modal) {
            QVERIFY(qobject_cast<SETTING_FRM*>(modal));
            ran = true;
            auto* name = modal->findChild<QLineEdit*>("S_NAME_TEXT");
            name->clear();
            type(name, "受付");
            for (const QString& step : steps) {
                if (step == "close")
                    modal->close();
                else
                    QTest::mouseClick(modal->findChild<QPushButton*>(step), Qt::LeftButton);
            }
        });
        main.mnuSet_Click();
        QVERIFY(ran);
        QVERIFY(env.shown().isEmpty());
        QCOMPARE(main.findChild<QLabel*>("NAME_LABEL")->text(), label);
        QCOMPARE(main.findChild<platform::PictureBox*>("SEC_PICT")->picture().size(), mainPicture);
        const QString storedPath = stored == "girl" ? env.girlPath() : stored == "bmp" ? bmp : QString();
        QCOMPARE(env.setting(state::kKeySecPic), storedPath.isEmpty() && staleStored ? stale : storedPath);
        QCOMPARE(env.setting(state::kKeySecName), stored.isEmpty() ? "" : "受付");
        QCOMPARE(env.setting(state::kKeyMyName), stored.isEmpty() ? "" : "社長");

        // The next start reads the store again: a picture that was not stored is gone.
        state::Module1 next;
        MAIN_FRM restarted(next);
        restarted.startUp();
        QCOMPARE(next.SEC_PIC_PATH, stored == "bmp" ? bmp : env.girlPath());
    }
};

QTEST_MAIN(TestSettingsDialog)
#include "test_settings_dialog.moc"
