// The windows in the usual desktop font, in one a quarter larger, and (run
// again by CTest with QT_SCALE_FACTOR=2) on a screen scaled twice: every
// field shows its widest value whole, and no text is cut or covered.
#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionGroupBox>

#include "about_form.h"
#include "main_window_fixture.h"
#include "settings_form.h"

namespace {

// Whether the field shows `text` whole: with the cursor at its end, as
// after typing, the first character has not scrolled out of view. A field
// that shows its text whole moves the cursor by the text's width from the
// first character to the end; one that scrolls moves it less.
bool ShowsWhole(QLineEdit *field, const QString &text)
{
    auto cursorX = [field] {
        field->grab();  // the edit scrolls when it paints
        return field->inputMethodQuery(Qt::ImCursorRectangle).toRect().center().x();
    };
    field->setText(text);
    field->setCursorPosition(0);
    const int first = cursorX();
    field->end(false);
    const int last = cursorX();
    return last - first >= field->fontMetrics().horizontalAdvance(text) - 1;
}

// Where a label's text lies within the window: its alignment in its box,
// its height the font's line.
QRect TextRect(const QLabel *label)
{
    const QFontMetrics metrics = label->fontMetrics();
    const QSize text(metrics.horizontalAdvance(label->text()), metrics.height());
    const QRect box = label->contentsRect();
    const QRect inBox = QStyle::alignedRect(label->layoutDirection(), label->alignment(),
                                            text.boundedTo(box.size()), box);
    return QRect(label->mapTo(label->window(), inBox.topLeft()), inBox.size());
}

QRect TitleRect(const QGroupBox *box)
{
    QStyleOptionGroupBox option;
    option.initFrom(box);
    option.text = box->title();
    option.lineWidth = 1;
    option.textAlignment = box->alignment();
    option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    const QRect title =
        box->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, box);
    return QRect(box->mapTo(box->window(), title.topLeft()), title.size());
}

// Every text of the window whole and uncovered: labels hold their text,
// buttons their captions; no label's text meets another's, a group box's
// title or a control; no control meets another or leaves its parent.
void ExpectNothingCutOrCovered(QWidget *window)
{
    SCOPED_TRACE(window->objectName().toStdString());
    std::vector<std::pair<QString, QRect>> texts;
    std::vector<std::pair<QString, QRect>> controls;
    for (QWidget *w : window->findChildren<QWidget *>()) {
        if (!w->isVisible() || w->window() != window || qobject_cast<QMenuBar *>(w)
            || w->objectName() == QStringLiteral("StatusBar")
            || w->parentWidget()->objectName() == QStringLiteral("StatusBar")) {
            continue;
        }
        if (w->metaObject() == &QWidget::staticMetaObject) {
            continue;  // a plain container (the client area)
        }
        const auto *label = qobject_cast<QLabel *>(w);
        const QString name = label                       ? label->text()
                             : w->objectName().isEmpty() ? w->metaObject()->className()
                                                         : w->objectName();
        const QRect inWindow(w->mapTo(window, QPoint(0, 0)), w->size());
        if (w->parentWidget() != window) {
            EXPECT_TRUE(w->parentWidget()->rect().contains(w->geometry()))
                << name.toStdString() << " leaves its parent: " << w->x() << "+" << w->width()
                << " of " << w->parentWidget()->width();
        }
        if (label) {
            if (label->pixmap().isNull()) {
                const QRect text = TextRect(label);
                EXPECT_GE(label->contentsRect().width(),
                          label->fontMetrics().horizontalAdvance(label->text()))
                    << name.toStdString() << " is cut";
                EXPECT_GE(label->height(), label->fontMetrics().height()) << name.toStdString();
                texts.emplace_back(label->text(), text);
            }
        } else if (auto *box = qobject_cast<QGroupBox *>(w)) {
            texts.emplace_back(box->title(), TitleRect(box));
        } else if (w->parentWidget()->inherits("QComboBox") || w->inherits("QFrame")) {
            continue;  // a list's own parts, the About box's panel
        } else {
            if (auto *button = qobject_cast<QAbstractButton *>(w)) {
                const int margin = w->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, w);
                EXPECT_GE(w->width(),
                          button->fontMetrics().horizontalAdvance(button->text()) + 2 * margin)
                    << name.toStdString() << " is cut";
            }
            controls.emplace_back(name, inWindow);
        }
    }
    for (std::size_t i = 0; i < texts.size(); ++i) {
        for (std::size_t j = i + 1; j < texts.size(); ++j) {
            EXPECT_FALSE(texts[i].second.intersects(texts[j].second))
                << texts[i].first.toStdString() << " meets " << texts[j].first.toStdString();
        }
        for (const auto &[name, rect] : controls) {
            EXPECT_FALSE(texts[i].second.intersects(rect))
                << texts[i].first.toStdString() << " meets " << name.toStdString();
        }
    }
    for (std::size_t i = 0; i < controls.size(); ++i) {
        for (std::size_t j = i + 1; j < controls.size(); ++j) {
            EXPECT_FALSE(controls[i].second.intersects(controls[j].second))
                << controls[i].first.toStdString() << " meets " << controls[j].first.toStdString();
        }
    }
}

}  // namespace

// The parameter: the desktop font's size over the usual one.
class WindowFontsTest : public MainWindowTest, public ::testing::WithParamInterface<double> {
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        desktop_ = QApplication::font();
        QFont font = desktop_;
        font.setPointSizeF(desktop_.pointSizeF() * GetParam());
        QApplication::setFont(font);
    }

    void TearDown() override
    {
        MainWindowTest::TearDown();
        QApplication::setFont(desktop_);
    }

private:
    QFont desktop_;
};

TEST_P(WindowFontsTest, EveryFieldShowsItsWidestValueAndNoTextIsCutOrCovered)
{
    TheVirtualGenerator().SetPlugged(false);
    Create();
    // The run that CTest starts with QT_SCALE_FACTOR=2 has its scaled screen.
    EXPECT_EQ(form->devicePixelRatioF(), qEnvironmentVariableIsSet("QT_SCALE_FACTOR") ? 2.0 : 1.0);
    // A larger font, a larger window: its arrangement stays.
    EXPECT_GE(form->width(), 569 * GetParam());
    for (bool rms : {true, false}) {
        if (form->mnRms->isChecked() != rms) {
            form->mnRms->trigger();
        }
        ExpectNothingCutOrCovered(form.get());
    }
    const std::pair<QLineEdit *, const char *> fields[] = {
        {form->feFa, "3000.000"},
        {form->fePb, "-360.0"},
        {form->feAc, "10.00"},
        {form->fePc, "-359.9"},
    };
    for (const auto &[field, text] : fields) {
        EXPECT_TRUE(ShowsWhole(field, QString::fromLatin1(text)))
            << field->objectName().toStdString() << " " << text;
    }

    auto *settings = new TSettingsForm(form.get(), {});
    settings->show();
    ExpectNothingCutOrCovered(settings);
    const std::pair<QLineEdit *, const char *> settingsFields[] = {
        {settings->feContr, "127"}, {settings->feCf, "-99.9"}, {settings->feCc, "-9.99"}};
    for (const auto &[field, text] : settingsFields) {
        EXPECT_TRUE(ShowsWhole(field, QString::fromLatin1(text)))
            << field->objectName().toStdString() << " " << text;
    }
    settings->close();

    auto *about = new TAboutForm(form.get());
    about->show();
    ExpectNothingCutOrCovered(about);
    about->close();
    EXPECT_TRUE(boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(UsualAndAQuarterLarger, WindowFontsTest, ::testing::Values(1.0, 1.25));
