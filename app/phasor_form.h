// TPhasorForm: the "Phasors" window beside the main window. It shows the
// three outputs as a phasor diagram, the figures three-phase users check and
// the waveforms, from what the main window hands it; it never talks to the
// device. "Copy" (Ctrl+C) puts the picture on the clipboard; "Save image..."
// (Ctrl+E) stores it as PNG or SVG. Both are buttons and items of the
// context menu, which the right mouse button, the Menu key and Shift+F10
// open; Escape closes the window.
#pragma once

#include <functional>

#include <QWidget>

#include "phasor_picture.h"

class QAction;
class QFileDialog;
class QImage;
class QMenu;
class QPushButton;

class TPhasorForm : public QWidget {
public:
    explicit TPhasorForm(QWidget *parent = nullptr);
    ~TPhasorForm() override;

    // The size the window opens with when no settings say otherwise.
    QSize DefaultSize() const;

    // Shows this state; repaints only when it differs from the last one.
    void ShowState(const PhasorViewState &state);
    const PhasorViewState &State() const { return FState; }

    // The picture as the window shows it, at the canvas's size (or `size`),
    // in pixels of the given ratio: 2 gives an image twice as wide, drawn as
    // sharply as a screen at scale factor 2 shows it.
    QImage Picture() const;
    QImage Picture(QSize size, qreal pixelRatio = 1) const;
    // The picture as an SVG document of the canvas's size.
    QByteArray PictureSvg() const;

    // Puts the picture on the clipboard, in the screen's pixels.
    void CopyPicture();
    // Saves the picture: an SVG document when the name ends in ".svg", else
    // a PNG image. A file that cannot be written shows the error box.
    void SavePicture(const QString &path);

    // Runs the prepared "Save image..." dialog; tests replace it.
    std::function<bool(QFileDialog &)> ExecFileDialog;
    // Called when the operator closes the window.
    std::function<void()> OnClosed;

    QWidget *Canvas = nullptr;
    QPushButton *btCopy = nullptr, *btSaveImage = nullptr;
    QAction *acCopy = nullptr, *acSaveImage = nullptr;
    QMenu *ContextMenu = nullptr;

    // Handlers.
    void acCopyClick();
    void acSaveImageClick();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // Opens the context menu at `global`, or, from the keyboard, at the
    // control that holds the focus.
    void PopUpContextMenu(const QPoint &global);
    void PopUpContextMenuAtFocus();

    PhasorViewState FState;
    QString FImageFolder;
};
