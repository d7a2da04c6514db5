// The secretary settings window as the user meets it: the name rules through Enter and the
// update, the picture buttons, a store that cannot be written, and the main window afterwards.
#include "platform/settings_store.h"
#include "settings_dialog/setting_frm.h"
#include "support/test_env.h"

#include <QtTest>
#include <QtWidgets>

using platform::MsgIcon;
using testing::box;
using testing::TestEnv;

namespace {
void type(QWidget* widget, const QString& text)
{
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

// Opens the settings window from the main window's menu and runs steps in it; a window that
// stays open is then cancelled.
void inSettings(testing::StartedMain& main, const std::function<void(QDialog*)>& steps)
{
    testing::onNextModal([&](QWidget* dialog) {
        steps(static_cast<QDialog*>(dialog));
        if (dialog->isVisible())
            dialog->findChild<QPushButton*>("CMD_CANCEL")->click();
    });
    main.action("mnuSet")->trigger();
}
} // namespace

class TestSettingsDialog : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty()); }

    // Enter walks from the secretary's name to the user's and on to the update, checking each;
    // the secretary's rule is checked first and a refused name keeps the focus where it is.
    void names_data()
    {
        QTest::addColumn<QString>("secretary");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<QString>("focus");
        const QString tooLong = box("文字数が多すぎます。\r（5文字以内）", "エラー発生！", MsgIcon::Exclamation);
        QTest::newRow("five each, spaces counted") << "ﾊﾅｺ花子" << " 部長 " << "" << "";
        QTest::newRow("six characters") << "受付の花子さ" << "部長" << tooLong << "S_NAME_TEXT";
        QTest::newRow("both blank") << "\u3000 " << "" << box("秘書の名前を入力して下さい。\r", "エラー発生！", MsgIcon::Exclamation)
                                    << "S_NAME_TEXT";
        QTest::newRow("user's blank")
            << "受付" << "  " << box("あなたの名前を入力して下さい。\r（半角／全角5）", "エラー発生！", MsgIcon::Exclamation)
            << "M_NAME_TEXT";
    }
    void names()
    {
        QFETCH(QString, secretary);
        QFETCH(QString, user);
        QFETCH(QString, refusal);
        QFETCH(QString, focus);
        TestEnv env;
        testing::StartedMain main;
        QString focused;
        inSettings(main, [&](QDialog* dialog) {
            for (const auto& [name, text] : {std::pair{"S_NAME_TEXT", secretary}, {"M_NAME_TEXT", user}}) {
                auto* field = dialog->findChild<QLineEdit*>(name);
                field->clear();
                type(field, text);
            }
            // Under load the dialog may not be active yet, and focus given to an inactive window
            // is not the application's focus widget.
            QVERIFY(QTest::qWaitForWindowActive(dialog));
            dialog->findChild<QLineEdit*>("S_NAME_TEXT")->setFocus();
            for (int i = 0; i < 3 && dialog->isVisible() && env.told().isEmpty(); ++i)
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
            focused = dialog->isVisible() ? QApplication::focusWidget()->objectName() : QString();
        });
        QCOMPARE(env.told(), QStringList{refusal}.mid(0, !refusal.isEmpty()));
        QCOMPARE(focused, focus);
        const QString stored = refusal.isEmpty() ? secretary + user : QString();
        QCOMPARE(env.setting("SEC_NAME") + env.setting("MY_NAME"), stored);
        QCOMPARE(main.label("NAME_LABEL"), (refusal.isEmpty() ? secretary : "秘書") + "：");
    }

    // A chosen picture shows at once and becomes the path; one that is missing or hidden is
    // refused with a message, one that is no picture silently; a large photo is a picture.
    void pictures_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<bool>("taken");
        const QString missing = box("指定された画像は存在しません。", "エラー発生！", MsgIcon::Exclamation);
        QTest::newRow("cancelled") << "" << "" << false;
        QTest::newRow("missing") << "none.bmp" << missing << false;
        QTest::newRow("hidden") << ".pic.bmp" << missing << false;
        QTest::newRow("not a picture") << "text.jpg" << "" << false;
        QTest::newRow("6000 x 4000 photo") << "photo.jpg" << "" << true;
    }
    void pictures()
    {
        QFETCH(QString, file);
        QFETCH(QString, refusal);
        QFETCH(bool, taken);
        TestEnv env;
        QImage photo(6000, 4000, QImage::Format_RGB32);
        photo.fill(Qt::darkCyan);
        QVERIFY(photo.save(env.path("photo.jpg"), "JPG") && photo.save(env.path(".pic.bmp"), "BMP"));
        QFile text(env.path("text.jpg"));
        QVERIFY(text.open(QIODevice::WriteOnly) && text.write("not a picture"));
        text.close();
        env.answerFile(file.isEmpty() ? std::optional<QString>() : env.path(file));
        testing::StartedMain main;
        const QImage before = main.picture();
        QVERIFY(!before.isNull());
        inSettings(main, [](QDialog* dialog) { dialog->findChild<QPushButton*>("CMD_PICTURE")->click(); });
        QCOMPARE(env.told(), QStringList{refusal}.mid(0, !refusal.isEmpty()));
        QCOMPARE(main.module.SEC_PIC_PATH, taken ? env.path(file) : env.girlPath());
        QCOMPARE(main.picture() != before, taken);
        QCOMPARE(env.setting("SEC_PIC"), QString());
        // Back to the default picture puts back the designed one.
        inSettings(main, [](QDialog* dialog) { dialog->findChild<QPushButton*>("CMD_REDO")->click(); });
        QCOMPARE(main.picture(), before);
    }

    // A store that cannot be written is reported as an internal error within a bounded wait (a
    // folder in place of its lock file used to hang the program); after a cancel the program
    // shows the names the store holds, and the store is as it was.
    void unwritableStore_data()
    {
        QTest::addColumn<QString>("blocker");
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<QString>("stored");
        QTest::newRow("folder in place of the lock file") << "settings.ini.lock"
            << "設定ファイルがほかのプログラムに使われているため、設定を書き込めません: " << "受付";
        QTest::newRow("file in place of the folder") << "blocked"
            << "設定ファイルのフォルダーがないため、設定を書き込めません: " << "秘書";
    }
    void unwritableStore()
    {
        QFETCH(QString, blocker);
        QFETCH(QString, prompt);
        QFETCH(QString, stored);
        TestEnv env;
        env.setSetting("SEC_NAME", "受付");
        const QString store = blocker == "blocked" ? env.path("blocked/settings.ini") : env.settingsPath();
        QVERIFY(blocker == "blocked" ? QFile::copy(env.girlPath(), env.path(blocker)) : QDir().mkdir(env.path(blocker)));
        platform::SettingsStore::useFile(store);
        testing::StartedMain main;
        inSettings(main, [](QDialog* dialog) {
            dialog->findChild<QLineEdit*>("S_NAME_TEXT")->setText("花子");
            dialog->findChild<QPushButton*>("CMD_UPDATE")->click();
        });
        QCOMPARE(env.told(), QStringList{box(prompt + store, "Internal Error", MsgIcon::Critical)});
        QCOMPARE(main.label("NAME_LABEL"), stored + "：");
        QCOMPARE(env.setting("SEC_NAME"), stored == "受付" ? stored : QString());
    }

    // A stored name longer than the typing limit shows whole and cannot grow past its own length,
    // undo or not; no button is ever the default and Escape closes nothing.
    void longStoredName()
    {
        TestEnv env;
        env.setSetting("SEC_NAME", "長い長い秘書の名");
        testing::StartedMain main;
        QString held, defaults;
        inSettings(main, [&](QDialog* dialog) {
            auto* field = dialog->findChild<QLineEdit*>("S_NAME_TEXT");
            field->setFocus();
            field->selectAll();
            type(field, "x");
            field->undo();
            field->end(false);
            type(field, "yz");
            QTest::keyClick(dialog, Qt::Key_Escape);
            held = dialog->isVisible() ? field->text() : QString();
            for (QPushButton* button : dialog->findChildren<QPushButton*>())
                defaults += button->isDefault() ? button->objectName() : QString();
        });
        QCOMPARE(held, "長い長い秘書の名");
        QCOMPARE(defaults, QString());
    }
};

QTEST_MAIN(TestSettingsDialog)
#include "test_settings_dialog.moc"
