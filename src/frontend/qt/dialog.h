// The "Processor Test" dialog: title lines, the last score, Run Test and Quit.
#pragma once

#include <QDialog>
#include <QRect>

#include <thread>

class QLabel;
class QPushButton;

// One control of the dialog template, in dialog units.
struct DialogControl {
    enum Kind { Text, Button, Icon };
    Kind kind;
    int id;  // -1 for the controls nobody addresses
    const char* initial_text;
    Qt::Alignment alignment;
    QRect units;
};

inline constexpr int kDialogWidthUnits = 210;
inline constexpr int kDialogHeightUnits = 155;
extern const DialogControl kDialogControls[9];

// The resource the wait cursor is loaded from; tests point it elsewhere.
extern const char* wait_cursor_resource;

// Converts dialog units to pixels with the font's average character width
// and height, as the window system does for dialog templates.
QRect dialog_units_to_pixels(const QRect& units, const QFont& font);

class ProcessorTestDialog : public QDialog {
    Q_OBJECT

public:
    explicit ProcessorTestDialog(QWidget* parent = nullptr);
    ~ProcessorTestDialog() override;

    // The control with the given id (frontend/window.h), or nullptr.
    QWidget* control(int id) const;
    bool running() const { return worker_.joinable(); }

signals:
    void runFinished();

public slots:
    void reject() override;

private slots:
    void startRun();
    void finishRun();

private:
    void set_text(int id, const QString& text);

    QWidget* controls_[9] = {};
    std::thread worker_;
};
