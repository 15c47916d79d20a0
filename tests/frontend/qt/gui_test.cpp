// The "Processor Test" window, headless (Qt's offscreen platform), with a
// fake tick counter so a run takes a few dozen work units, not 40 seconds.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSet>
#include <QTest>
#include <QTimer>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/run_driver.h"
#include "frontend/qt/dialog.h"
#include "frontend/qt/gui.h"
#include "frontend/window.h"
#include "platform/platform.h"
#include "shell/shell.h"
#include "support/test_support.h"

namespace {

// Death tests here re-run the whole test in a fresh copy of this program, so
// a file they both see must have a name that survives the trip: the parent
// picks it and hands it down in the environment.
std::string file_shared_with_death_test(const char* name) {
    if (const char* dir = std::getenv("PT_GUI_TEST_DIR")) return std::string(dir) + "/" + name;
    static TempDir dir;
    setenv("PT_GUI_TEST_DIR", dir.path().c_str(), 1);
    return dir.file(name);
}

class Dialog : public ::testing::Test {
protected:
    void SetUp() override {
        start_shell("");
        fake_clock::start();
    }
    void TearDown() override {
        fake_clock::stop();
        reset_shell_settings();
    }

    static QString text(const ProcessorTestDialog& d, int id) {
        return qobject_cast<QLabel*>(d.control(id))->text();
    }
    static QPushButton* button(const ProcessorTestDialog& d, int id) {
        return qobject_cast<QPushButton*>(d.control(id));
    }
    static void wait_for_run(const ProcessorTestDialog& d) {
        for (int i = 0; i < 3000 && (d.running() || !button(d, kRunTestId)->isEnabled()); ++i) QTest::qWait(10);
        ASSERT_FALSE(d.running());
    }
};

}  // namespace

TEST_F(Dialog, ShowsTheTitleLinesAndNotRun) {
    ProcessorTestDialog d;
    EXPECT_EQ(d.windowTitle(), "Processor Test");
    EXPECT_EQ(text(d, kProgramNameId), "Quillstone (TM) 99 Version 1.0");
    EXPECT_EQ(text(d, kNoticeId), QString::fromLatin1(notice_line));
    EXPECT_EQ(text(d, kVersionId), "32-bit Version");
    EXPECT_EQ(text(d, 103), "");
    EXPECT_EQ(text(d, kStatusId), "Not Run");
    EXPECT_EQ(button(d, kRunTestId)->text(), "Run Test");
    EXPECT_TRUE(button(d, kRunTestId)->isDefault());
    EXPECT_EQ(button(d, kQuitId)->text(), "Quit");
    EXPECT_FALSE(button(d, kQuitId)->isDefault());
    EXPECT_FALSE(d.windowIcon().isNull());
    for (QSize size : {QSize(32, 32), QSize(16, 16)}) {
        EXPECT_TRUE(d.windowIcon().availableSizes().contains(size)) << size.width();
    }
}

TEST(Resources, IconImagesAndWaitCursorAreCompiledIn) {
    const struct {
        const char* name;
        int size;
        int max_colours;
    } images[] = {
        {":/pt/icon-32x32-16c.xpm", 32, 16}, {":/pt/icon-16x16-16c.xpm", 16, 16},
        {":/pt/icon-16x16-2c.xpm", 16, 2},   {":/pt/icon-32x32-2c.xpm", 32, 2},
        {":/pt/wait-cursor.xpm", 32, 2},
    };
    for (const auto& image : images) {
        const QImage picture(QString::fromLatin1(image.name));
        ASSERT_FALSE(picture.isNull()) << image.name;
        EXPECT_EQ(picture.size(), QSize(image.size, image.size)) << image.name;
        QSet<QRgb> colours;
        for (int y = 0; y < picture.height(); ++y) {
            for (int x = 0; x < picture.width(); ++x) {
                const QRgb pixel = picture.pixel(x, y);
                if (qAlpha(pixel) != 0) colours.insert(pixel);
            }
        }
        EXPECT_LE(colours.size(), image.max_colours) << image.name;
    }
}

TEST_F(Dialog, ControlsSitWhereTheTemplatePutsThemInDialogUnits) {
    ProcessorTestDialog d;
    // Base units measured independently of the dialog's own conversion.
    const QFontMetrics m(d.font());
    const int bx = (m.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 26 + 1) / 2;
    const int by = m.height();
    auto px = [&](int units, int base, int div) { return (units * base + div / 2) / div; };
    EXPECT_EQ(d.font().pointSize(), 8);
    EXPECT_EQ(d.size(), QSize(px(210, bx, 4), px(155, by, 8)));
    const int expected[9][5] = {
        {100, 15, 15, 180, 8}, {101, 15, 70, 180, 8}, {102, 15, 25, 180, 8}, {103, 110, 90, 85, 8},
        {-1, 15, 105, 85, 8},  {104, 110, 105, 85, 8}, {1, 40, 125, 50, 14},  {2, 120, 125, 50, 14},
        {-1, 96, 40, 18, 20},
    };
    const QList<QWidget*> children = d.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    int checked = 0;
    for (const auto& e : expected) {
        const QRect want(px(e[1], bx, 4), px(e[2], by, 8), px(e[3], bx, 4), px(e[4], by, 8));
        bool found = false;
        for (QWidget* w : children) {
            if (w->property("control_id").toInt() == e[0] && w->geometry() == want) found = true;
        }
        EXPECT_TRUE(found) << "control " << e[0] << " at " << e[1] << "," << e[2];
        checked += found ? 1 : 0;
    }
    EXPECT_EQ(checked, 9);
    // Alignment of the texts: centred titles, right-aligned "Score:", left score.
    const auto alignment = [&d](int id) {
        return qobject_cast<QLabel*>(d.control(id))->alignment() & Qt::AlignHorizontal_Mask;
    };
    EXPECT_EQ(alignment(kProgramNameId), Qt::AlignHCenter);
    EXPECT_EQ(alignment(kStatusId), Qt::AlignLeft);
}

TEST_F(Dialog, RunTestShowsRunningThenTheScore) {
    ProcessorTestDialog d;
    d.show();
    QTest::mouseClick(button(d, kRunTestId), Qt::LeftButton);
    // The press is handled first; the run starts from the posted request.
    EXPECT_EQ(text(d, kStatusId), "Not Run");
    EXPECT_FALSE(d.running());
    QCoreApplication::processEvents();
    EXPECT_EQ(text(d, kStatusId), "Running...");
    EXPECT_FALSE(button(d, kRunTestId)->isEnabled());
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->hotSpot(), QPoint(0, 0));
    wait_for_run(d);
    EXPECT_EQ(text(d, kStatusId), "8 ");
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(button(d, kRunTestId)->isEnabled());
}

TEST_F(Dialog, EnterPressesRunTest) {
    ProcessorTestDialog d;
    d.show();
    QTest::keyClick(&d, Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_EQ(text(d, kStatusId), "Running...");
    wait_for_run(d);
}

TEST_F(Dialog, LabelSteppingAfterModuleZeroPrintsEveryLabelOnce) {
    start_shell("/test=0");
    printing = 1;
    ProcessorTestDialog d;
    d.show();
    testing::internal::CaptureStdout();
    for (int press = 0; press < 7; ++press) {
        QTest::mouseClick(button(d, kRunTestId), Qt::LeftButton);
        QCoreApplication::processEvents();
        wait_for_run(d);
    }
    const std::string out = testing::internal::GetCapturedStdout();
    std::vector<std::string> labels;
    for (std::size_t at = 0; (at = out.find("Will run: ", at)) != std::string::npos;) {
        const std::size_t end = out.find('\n', at);
        labels.push_back(out.substr(at + 10, end - at - 10));
        at = end;
    }
    EXPECT_EQ(labels, (std::vector<std::string>{"Data copy module", "Date adjustment module",
                                                "Word analysis module", "Parsing module", "Library module",
                                                "Database module", "All modules"}));
    EXPECT_EQ(label_stepping, 0);
    EXPECT_EQ(module_number, 8);
}

TEST_F(Dialog, QuitAndClosingEndTheDialogWithZero) {
    QTimer::singleShot(0, [] {
        auto* d = qobject_cast<ProcessorTestDialog*>(QApplication::activeModalWidget());
        if (d != nullptr) QTest::mouseClick(qobject_cast<QPushButton*>(d->control(kQuitId)), Qt::LeftButton);
    });
    EXPECT_EQ(run_dialog(), 0);
    QTimer::singleShot(0, [] {
        if (QWidget* d = QApplication::activeModalWidget()) d->close();
    });
    EXPECT_EQ(run_dialog(), 0);
}

TEST_F(Dialog, QuitDuringARunExitsWithZeroAndWritesNothing) {
    const std::string log = file_shared_with_death_test("quit-log.txt");
    write_file(log, "untouched");
    EXPECT_EXIT(
        {
            if (std::freopen(log.c_str(), "w+", stdout) == nullptr) std::_Exit(3);
            printing = 1;
            // A clock so slow that the run is still calibrating when Quit comes.
            set_tick_source([]() -> std::uint32_t { return 0; });
            ProcessorTestDialog d;
            d.show();
            QTest::mouseClick(button(d, kRunTestId), Qt::LeftButton);
            QCoreApplication::processEvents();
            if (!d.running()) std::_Exit(4);
            QTest::mouseClick(button(d, kQuitId), Qt::LeftButton);
            std::_Exit(5);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(read_file(log), "");
}

TEST_F(Dialog, MissingWaitCursorIsReported) {
    EXPECT_EXIT(
        {
            set_message_box_handler(nullptr);
            wait_cursor_resource = ":/pt/no-such-cursor.xpm";
            ProcessorTestDialog d;
            QTest::mouseClick(button(d, kRunTestId), Qt::LeftButton);
            QCoreApplication::processEvents();
        },
        ::testing::ExitedWithCode(255), "Processor Test Error: Can't LoadCursor");
}

TEST_F(Dialog, ErrorDuringARunShowsTheBoxAndExitsWith255FlushingTheOutput) {
    const std::string log = file_shared_with_death_test("error-log.txt");
    EXPECT_EXIT(
        {
            if (std::freopen(log.c_str(), "w+", stdout) == nullptr) std::_Exit(3);
            printing = 1;
            install_gui();
            // Calibration sees time pass; the timed section sees none.
            set_tick_source([]() -> std::uint32_t {
                static std::uint32_t readings = 0;
                ++readings;
                return readings <= 2 ? (readings - 1) * 7000 : 7000;
            });
            QTimer accept;
            QObject::connect(&accept, &QTimer::timeout, [] {
                if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                    std::fprintf(stderr, "[%s|%s]\n", qPrintable(box->windowTitle()), qPrintable(box->text()));
                    box->accept();
                }
            });
            accept.start(5);
            ProcessorTestDialog d;
            d.show();
            QTest::mouseClick(button(d, kRunTestId), Qt::LeftButton);
            for (int i = 0; i < 3000; ++i) QTest::qWait(10);
            std::_Exit(4);
        },
        ::testing::ExitedWithCode(255), "\\[Processor Test Error\\|Timed section took 0 ms");
    const std::string out = read_file(log);
    EXPECT_NE(out.find("Will run: All modules\n"), std::string::npos) << out;
    EXPECT_NE(out.find("ERROR - Timed section took 0 ms"), std::string::npos) << out;
}

// The message boxes of the error path and the /break prompts.
TEST(MessageBoxes, ErrorAndInformationBoxesAreRealBoxes) {
    install_gui();
    struct Seen {
        QString title, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        bool modal = false;
    } seen;
    auto inspect = [&seen] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) return;
        seen = {box->windowTitle(), box->text(), box->icon(), box->windowModality() == Qt::ApplicationModal};
        box->accept();
    };
    QTimer::singleShot(0, inspect);
    message_box("Click OK to start timed section.", "Processor Test", kBoxInformationFlags);
    EXPECT_EQ(seen.title, "Processor Test");
    EXPECT_EQ(seen.text, "Click OK to start timed section.");
    EXPECT_EQ(seen.icon, QMessageBox::Information);
    EXPECT_TRUE(seen.modal);

    QTimer::singleShot(0, inspect);
    message_box("Cant Create DialogBox", "Processor Test Error", kBoxErrorFlags);
    EXPECT_EQ(seen.title, "Processor Test Error");
    EXPECT_EQ(seen.icon, QMessageBox::Critical);
    set_message_box_handler(nullptr);
    set_exit_handler(nullptr);
    set_dialog_runner(nullptr);
}

TEST(MessageBoxes, BreakPromptsFromTheBenchmarkThreadReachTheWindow) {
    install_gui();
    start_shell("/break");
    fake_clock::start();
    std::vector<QString> texts;
    QTimer accept;
    QObject::connect(&accept, &QTimer::timeout, [&texts] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            texts.push_back(box->text());
            box->accept();
        }
    });
    accept.start(5);
    ProcessorTestDialog d;
    d.show();
    QTest::mouseClick(qobject_cast<QPushButton*>(d.control(kRunTestId)), Qt::LeftButton);
    for (int i = 0; i < 3000 && texts.size() < 2; ++i) QTest::qWait(10);
    for (int i = 0; i < 3000 && !qobject_cast<QPushButton*>(d.control(kRunTestId))->isEnabled(); ++i) QTest::qWait(10);
    EXPECT_EQ(texts, (std::vector<QString>{"Click OK to start timed section.",
                                           "End of timed section. Time: 2000, Iters: 16."}));
    set_tick_source(nullptr);
    set_message_box_handler(nullptr);
    set_exit_handler(nullptr);
    set_dialog_runner(nullptr);
    reset_shell_settings();
}

TEST(Locale, NumbersKeepTheirPointUnderADecimalCommaLocale) {
    // main() started the application under de_DE.UTF-8, which the toolkit
    // adopts for the whole process.
    const char* ctype = std::setlocale(LC_CTYPE, nullptr);
    if (ctype == nullptr || std::string(ctype).find("de_DE") == std::string::npos) {
        GTEST_SKIP() << "de_DE.UTF-8 locale not installed";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.3g %.15g", 3.37, 2.5);
    EXPECT_STREQ(text, "3.37 2.5");
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("LC_ALL", "de_DE.UTF-8");
    testing::InitGoogleTest(&argc, argv);
    // Death tests re-run this program for the one test, so Qt starts afresh.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    if (!ensure_application()) return 1;
    return RUN_ALL_TESTS();
}
