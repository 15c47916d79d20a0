#include "frontend/qt/dialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QFontMetrics>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

#include <cstdio>
#include <cstdlib>

#include "driver/run_driver.h"
#include "frontend/qt/gui.h"
#include "frontend/window.h"
#include "shell/shell.h"

const DialogControl kDialogControls[9] = {
    {DialogControl::Text, kProgramNameId, "Program Name", Qt::AlignHCenter | Qt::AlignTop, QRect(15, 15, 180, 8)},
    {DialogControl::Text, kNoticeId, "Notice", Qt::AlignHCenter | Qt::AlignTop, QRect(15, 70, 180, 8)},
    {DialogControl::Text, kVersionId, "Version", Qt::AlignHCenter | Qt::AlignTop, QRect(15, 25, 180, 8)},
    {DialogControl::Text, 103, "", Qt::AlignLeft | Qt::AlignTop, QRect(110, 90, 85, 8)},  // always empty
    {DialogControl::Text, -1, kScoreCaptionText, Qt::AlignRight | Qt::AlignTop, QRect(15, 105, 85, 8)},
    {DialogControl::Text, kStatusId, "", Qt::AlignLeft | Qt::AlignTop, QRect(110, 105, 85, 8)},
    {DialogControl::Button, kRunTestId, kRunTestText, Qt::AlignCenter, QRect(40, 125, 50, 14)},
    {DialogControl::Button, kQuitId, kQuitText, Qt::AlignCenter, QRect(120, 125, 50, 14)},
    {DialogControl::Icon, -1, "", Qt::AlignLeft | Qt::AlignTop, QRect(96, 40, 18, 20)},
};

const char* wait_cursor_resource = ":/pt/wait-cursor.xpm";

namespace {

// The window system's base units of a dialog font: the average width of the
// 52 letters, rounded, and the font's height.
QSize base_units(const QFont& font) {
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return QSize((letters / 26 + 1) / 2, metrics.height());
}

int scale(int units, int base, int divisor) {
    // Rounded like the window system's multiply-then-divide.
    return (units * base + divisor / 2) / divisor;
}

}  // namespace

QRect dialog_units_to_pixels(const QRect& units, const QFont& font) {
    const QSize base = base_units(font);
    return QRect(scale(units.x(), base.width(), 4), scale(units.y(), base.height(), 8),
                 scale(units.width(), base.width(), 4), scale(units.height(), base.height(), 8));
}

ProcessorTestDialog::ProcessorTestDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromLatin1(kWindowTitle));
    setWindowIcon(program_icon());
    QFont dialog_font = font();
    dialog_font.setPointSize(8);
    setFont(dialog_font);
    setFixedSize(dialog_units_to_pixels(QRect(0, 0, kDialogWidthUnits, kDialogHeightUnits), dialog_font).size());

    for (int i = 0; i < 9; ++i) {
        const DialogControl& c = kDialogControls[i];
        QWidget* widget;
        if (c.kind == DialogControl::Button) {
            auto* button = new QPushButton(QString::fromLatin1(c.initial_text), this);
            if (c.id == kRunTestId) {
                button->setDefault(true);
                button->setFocus();
                // Like a posted message: the run starts once the press has
                // been handled completely.
                connect(button, &QPushButton::clicked, this, &ProcessorTestDialog::startRun, Qt::QueuedConnection);
            } else {
                button->setAutoDefault(false);
                connect(button, &QPushButton::clicked, this, &ProcessorTestDialog::reject);
            }
            widget = button;
        } else {
            auto* label = new QLabel(QString::fromLatin1(c.initial_text), this);
            label->setAlignment(c.alignment);
            if (c.kind == DialogControl::Icon) {
                label->setPixmap(QPixmap(QStringLiteral(":/pt/icon-32x32-16c.xpm")));
            }
            widget = label;
        }
        widget->setProperty("control_id", c.id);
        widget->setGeometry(dialog_units_to_pixels(c.units, dialog_font));
        controls_[i] = widget;
    }
    connect(this, &ProcessorTestDialog::runFinished, this, &ProcessorTestDialog::finishRun, Qt::QueuedConnection);

    set_text(kProgramNameId, QString::fromLatin1(product_title));
    set_text(kNoticeId, QString::fromLatin1(notice_line));
    set_text(kVersionId, QString::fromLatin1(version_text));
    set_text(kStatusId, QString::fromLatin1(kNotRunText));
}

ProcessorTestDialog::~ProcessorTestDialog() {
    if (worker_.joinable()) worker_.join();
}

QWidget* ProcessorTestDialog::control(int id) const {
    for (int i = 0; i < 9; ++i) {
        if (kDialogControls[i].id == id) return controls_[i];
    }
    return nullptr;
}

void ProcessorTestDialog::set_text(int id, const QString& text) {
    if (auto* label = qobject_cast<QLabel*>(control(id))) label->setText(text);
}

void ProcessorTestDialog::startRun() {
    if (running()) return;
    select_module_label();

    const QPixmap cursor_image(QString::fromLatin1(wait_cursor_resource));
    if (cursor_image.isNull()) report_error(kNoWaitCursorText);
    QApplication::setOverrideCursor(QCursor(cursor_image, 0, 0));

    set_text(kStatusId, QString::fromLatin1(kRunningText));
    control(kStatusId)->repaint();
    control(kRunTestId)->setEnabled(false);

    // The window keeps painting while the benchmark runs, alone, on its own
    // thread; nothing else computes beside it.
    worker_ = std::thread([this] {
        run_benchmark();
        emit runFinished();
    });
}

void ProcessorTestDialog::finishRun() {
    worker_.join();
    char text[100];
    std::snprintf(text, sizeof text, kScoreFormat, score);
    set_text(kStatusId, QString::fromLatin1(text));
    QApplication::restoreOverrideCursor();
    control(kRunTestId)->setEnabled(true);
    step_module_label();
}

void ProcessorTestDialog::reject() {
    if (running()) {
        // The run cannot be stopped half way, and nothing of it is wanted:
        // leave at once, without writing anything.
        std::_Exit(0);
    }
    QDialog::reject();
}
