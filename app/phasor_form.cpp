#include "phasor_form.h"

#include <QAction>
#include <QBuffer>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QShortcut>
#include <QStandardPaths>
#include <QSvgGenerator>
#include <QVBoxLayout>

#include "about_form.h"
#include "errors.h"
#include "inifile.h"
#include "operator_input.h"

namespace {

const QString kPngFilter = QStringLiteral("PNG image (*.png)");
const QString kSvgFilter = QStringLiteral("SVG image (*.svg)");

// Paints the owning form's picture.
class PhasorCanvas : public QWidget {
public:
    PhasorCanvas(QWidget *parent, const PhasorViewState &state) : QWidget(parent), state_(state)
    {
        setObjectName(QStringLiteral("Canvas"));
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        PaintPhasorPicture(p, size(), state_);
    }

private:
    const PhasorViewState &state_;
};

bool IsSvgName(const QString &path)
{
    return path.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive);
}

// QSvgGenerator declares a document's size in millimetres, which viewers
// turn into pixels at different resolutions; declared in pixels, the
// picture opens at the size the view showed.
QByteArray DeclaredInPixels(QByteArray svg, QSize size)
{
    static const QRegularExpression root(QStringLiteral(R"(<svg width="[^"]*" height="[^"]*")"));
    const QRegularExpressionMatch match = root.match(QString::fromLatin1(svg.left(512)));
    if (match.hasMatch()) {
        svg.replace(match.capturedStart(), match.capturedLength(),
                    QStringLiteral(R"(<svg width="%1" height="%2")")
                        .arg(size.width())
                        .arg(size.height())
                        .toLatin1());
    }
    return svg;
}

}  // namespace

TPhasorForm::TPhasorForm(QWidget *parent)
    : QWidget(parent, Qt::Window),
      ExecFileDialog([](QFileDialog &dialog) { return dialog.exec() == QDialog::Accepted; }),
      FImageFolder(QStandardPaths::writableLocation(QStandardPaths::PicturesLocation))
{
    setObjectName(QStringLiteral("PhasorForm"));
    setWindowTitle(QStringLiteral("Phasors"));
    setWindowIcon(QIcon(TAboutForm::DrawIcon()));
    Canvas = new PhasorCanvas(this, FState);
    Canvas->setMinimumSize(MinimumPictureSize());
    // The actions belong to the window, so that their shortcuts work
    // wherever its focus is. Ctrl+S stays the main window's "Save as...".
    acCopy = new QAction(QStringLiteral("Copy"), this);
    acCopy->setObjectName(QStringLiteral("acCopy"));
    acCopy->setShortcut(QKeySequence::Copy);
    acSaveImage = new QAction(QStringLiteral("Save image..."), this);
    acSaveImage->setObjectName(QStringLiteral("acSaveImage"));
    acSaveImage->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    addAction(acCopy);
    addAction(acSaveImage);
    connect(acCopy, &QAction::triggered, this, [this] { Guarded([this] { acCopyClick(); }); });
    connect(acSaveImage, &QAction::triggered, this,
            [this] { Guarded([this] { acSaveImageClick(); }); });

    ContextMenu = new QMenu(this);
    ContextMenu->setObjectName(QStringLiteral("ContextMenu"));
    ContextMenu->addAction(acCopy);
    ContextMenu->addAction(acSaveImage);
    Canvas->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Canvas, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &at) { PopUpContextMenu(Canvas->mapToGlobal(at)); });
    // From the keyboard: the Menu key and Shift+F10, wherever the focus is.
    for (const QKeySequence &keys :
         {QKeySequence(Qt::Key_Menu), QKeySequence(Qt::SHIFT | Qt::Key_F10)}) {
        connect(new QShortcut(keys, this), &QShortcut::activated, this,
                [this] { PopUpContextMenuAtFocus(); });
    }
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this,
            &QWidget::close);

    btCopy = new QPushButton(QStringLiteral("Copy"), this);
    btCopy->setObjectName(QStringLiteral("btCopy"));
    btCopy->setToolTip(QStringLiteral("Copy the picture (%1)")
                           .arg(acCopy->shortcut().toString(QKeySequence::NativeText)));
    btSaveImage = new QPushButton(QStringLiteral("Save image..."), this);
    btSaveImage->setObjectName(QStringLiteral("btSaveImage"));
    btSaveImage->setToolTip(QStringLiteral("Save the picture as PNG or SVG (%1)")
                                .arg(acSaveImage->shortcut().toString(QKeySequence::NativeText)));
    connect(btCopy, &QPushButton::clicked, acCopy, &QAction::trigger);
    connect(btSaveImage, &QPushButton::clicked, acSaveImage, &QAction::trigger);
    // Tab moves between the buttons; the picture takes no keys.
    QWidget::setTabOrder(btCopy, btSaveImage);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btCopy);
    buttons->addWidget(btSaveImage);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 6);
    layout->addWidget(Canvas, 1);
    auto *buttonRow = new QWidget(this);
    buttons->setContentsMargins(6, 0, 6, 0);
    buttonRow->setLayout(buttons);
    layout->addWidget(buttonRow);
    // Enter on a focused button clicks it, as in the main window.
    ApplyOperatorInputRules(this);
    // The smallest size shows the whole picture and the buttons.
    setMinimumSize(minimumSizeHint());
    resize(DefaultSize());
}

QSize TPhasorForm::DefaultSize() const
{
    // Drawn for the usual font; it grows with the picture's.
    constexpr QSize kDesigned(680, 640);
    return (kDesigned * PictureScale()).expandedTo(minimumSize());
}

TPhasorForm::~TPhasorForm() = default;

void TPhasorForm::ShowState(const PhasorViewState &state)
{
    if (state == FState) {
        return;
    }
    FState = state;
    Canvas->update();
}

QImage TPhasorForm::Picture() const
{
    return Picture(Canvas->size());
}

QImage TPhasorForm::Picture(QSize size, qreal pixelRatio) const
{
    QImage image(size * pixelRatio, QImage::Format_RGB32);
    image.setDevicePixelRatio(pixelRatio);
    QPainter p(&image);
    PaintPhasorPicture(p, size, FState);
    return image;
}

QByteArray TPhasorForm::PictureSvg() const
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    svg.setSize(Canvas->size());
    svg.setViewBox(QRect(QPoint(0, 0), Canvas->size()));
    svg.setTitle(QStringLiteral("Phasors"));
    svg.setDescription(QStringLiteral("PX-418 outputs A, B and C"));
    {
        QPainter p(&svg);
        PaintPhasorPicture(p, Canvas->size(), FState);
    }
    return DeclaredInPixels(buffer.data(), Canvas->size());
}

void TPhasorForm::CopyPicture()
{
    QGuiApplication::clipboard()->setImage(Picture(Canvas->size(), Canvas->devicePixelRatioF()));
}

void TPhasorForm::SavePicture(const QString &path)
{
    QByteArray bytes;
    if (IsSvgName(path)) {
        bytes = PictureSvg();
    } else {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        Picture().save(&buffer, "PNG");
    }
    // Written whole or not at all, as the program's other files are: an
    // earlier file of the name survives a failure, and the box says why.
    try {
        if (bytes.isEmpty()) {
            throw EFCreateError(path);
        }
        SaveFileAtomically(path, bytes);
    } catch (const Exception &e) {
        ShowErrorBox(QStringLiteral("Error"), e.Message(), this);
    }
}

void TPhasorForm::PopUpContextMenu(const QPoint &global)
{
    ContextMenu->popup(global);
}

void TPhasorForm::PopUpContextMenuAtFocus()
{
    QWidget *focus = focusWidget();
    const QWidget *at = focus && focus->isVisible() ? focus : Canvas;
    PopUpContextMenu(at->mapToGlobal(at->rect().center()));
}

void TPhasorForm::acCopyClick()
{
    CopyPicture();
}

void TPhasorForm::acSaveImageClick()
{
    QFileDialog dialog(this, QStringLiteral("Save image"));
    dialog.setObjectName(QStringLiteral("SaveImageDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({kPngFilter, kSvgFilter});
    dialog.setDefaultSuffix(QStringLiteral("png"));
    // The name's suffix follows the chosen type.
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString &filter) {
        const QString suffix = filter == kSvgFilter ? QStringLiteral("svg") : QStringLiteral("png");
        dialog.setDefaultSuffix(suffix);
        const QStringList names = dialog.selectedFiles();
        if (!names.isEmpty() && !QFileInfo(names.first()).completeBaseName().isEmpty()) {
            dialog.selectFile(QFileInfo(names.first()).completeBaseName() + QStringLiteral(".")
                              + suffix);
        }
    });
    dialog.setDirectory(QDir(FImageFolder).exists() ? FImageFolder : QDir::homePath());
    dialog.selectFile(QStringLiteral("phasors.png"));
    if (!ExecFileDialog(dialog)) {
        return;
    }
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) {
        return;
    }
    QString path = QFileInfo(chosen.first()).absoluteFilePath();
    // A name with another suffix gets the chosen type's.
    if (!IsSvgName(path) && !path.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive)) {
        path += dialog.selectedNameFilter() == kSvgFilter ? QStringLiteral(".svg")
                                                          : QStringLiteral(".png");
    }
    FImageFolder = QFileInfo(path).absolutePath();
    SavePicture(path);
}

void TPhasorForm::closeEvent(QCloseEvent *event)
{
    event->accept();
    if (OnClosed) {
        OnClosed();
    }
}
