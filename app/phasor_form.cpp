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
#include <QPainter>
#include <QPushButton>
#include <QSaveFile>
#include <QStandardPaths>
#include <QSvgGenerator>
#include <QVBoxLayout>

#include "about_form.h"
#include "errors.h"
#include "inifile.h"

namespace {

constexpr int kMinimumWidth = 480;
constexpr int kMinimumHeight = 440;

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

}  // namespace

TPhasorForm::TPhasorForm(QWidget *parent)
    : QWidget(parent, Qt::Window),
      ExecFileDialog([](QFileDialog &dialog) { return dialog.exec() == QDialog::Accepted; }),
      FImageFolder(QStandardPaths::writableLocation(QStandardPaths::PicturesLocation))
{
    setObjectName(QStringLiteral("PhasorForm"));
    setWindowTitle(QStringLiteral("Phasors"));
    setWindowIcon(QIcon(TAboutForm::DrawIcon()));
    // Showing the view leaves the keyboard with the main window.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    resize(kDefaultWidth, kDefaultHeight);

    Canvas = new PhasorCanvas(this, FState);
    Canvas->setContextMenuPolicy(Qt::ActionsContextMenu);
    acCopy = new QAction(QStringLiteral("Copy"), Canvas);
    acCopy->setObjectName(QStringLiteral("acCopy"));
    acCopy->setShortcut(QKeySequence::Copy);
    acSaveImage = new QAction(QStringLiteral("Save image..."), Canvas);
    acSaveImage->setObjectName(QStringLiteral("acSaveImage"));
    acSaveImage->setShortcut(QKeySequence::Save);
    Canvas->addAction(acCopy);
    Canvas->addAction(acSaveImage);
    connect(acCopy, &QAction::triggered, this, [this] { Guarded([this] { acCopyClick(); }); });
    connect(acSaveImage, &QAction::triggered, this,
            [this] { Guarded([this] { acSaveImageClick(); }); });

    btCopy = new QPushButton(QStringLiteral("Copy"), this);
    btCopy->setObjectName(QStringLiteral("btCopy"));
    btSaveImage = new QPushButton(QStringLiteral("Save image..."), this);
    btSaveImage->setObjectName(QStringLiteral("btSaveImage"));
    // The buttons do what the menu items do; they need not take the focus.
    btCopy->setFocusPolicy(Qt::NoFocus);
    btSaveImage->setFocusPolicy(Qt::NoFocus);
    connect(btCopy, &QPushButton::clicked, acCopy, &QAction::trigger);
    connect(btSaveImage, &QPushButton::clicked, acSaveImage, &QAction::trigger);

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

QImage TPhasorForm::Picture(QSize size) const
{
    QImage image(size, QImage::Format_RGB32);
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
    return buffer.data();
}

void TPhasorForm::CopyPicture()
{
    QGuiApplication::clipboard()->setImage(Picture());
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
    // Written whole or not at all: an earlier file of the name survives a
    // failure.
    QSaveFile file(path);
    if (bytes.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()
        || !file.commit()) {
        ShowErrorBox(QStringLiteral("Error"), EFCreateError(path).Message(), this);
    }
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
