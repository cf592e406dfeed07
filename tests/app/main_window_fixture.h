// A main window on the virtual generator, driven as an operator drives it.
#pragma once

#include <memory>
#include <vector>

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include "d2xx.h"
#include "errors.h"
#include "expected_writes.h"
#include "main_form.h"
#include "px418usb.h"
#include "virtual/virtual_generator.h"

using px418virtual::TheVirtualGenerator;

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        D2xxInstall(D2xxVirtualProvider());
        px418virtual::ResetVirtualConverter();
        TheVirtualGenerator().Reset();
        previous_ = SetErrorPresenter([this](const ErrorBox &box) { boxes.push_back(box); });
    }

    void TearDown() override
    {
        form.reset();
        PX418_CloseDevice();
        SetErrorPresenter(previous_);
        D2xxInstall(nullptr);
    }

    QString IniPath() const { return dir_.filePath(QStringLiteral("px418.ini")); }
    QString FilePath(const QString &name) const { return dir_.filePath(name); }

    void WriteFile(const QString &path, const QByteArray &bytes)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    QByteArray ReadFile(const QString &path)
    {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) {
            return {};
        }
        return f.readAll();
    }

    // Creates, shows and activates the window, with its settings file in the
    // test's folder unless another is named. Its timer is stopped: the tests
    // tick it by hand.
    TMainForm *Create(const QString &settingsPath = {})
    {
        form =
            std::make_unique<TMainForm>(nullptr, settingsPath.isEmpty() ? IniPath() : settingsPath);
        form->Timer1->stop();
        form->show();
        form->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(form.get()));
        return form.get();
    }

    // Creates the window and brings it on line with the virtual generator.
    TMainForm *CreateOnLine()
    {
        Create();
        Tick();
        EXPECT_EQ(form->StatusText(), QStringLiteral("ON-Line"));
        TheVirtualGenerator().ClearLog();
        return form.get();
    }

    // Activates a window and waits until the application has it as its
    // active window (QWindow::isActive answers true for a transient child
    // of the active window already), so that its shortcuts apply.
    static bool Activate(QWidget *window)
    {
        window->activateWindow();
        for (int i = 0; i < 200 && QApplication::activeWindow() != window; ++i) {
            QTest::qWait(10);
        }
        return QApplication::activeWindow() == window;
    }

    void Tick()
    {
        form->Timer1Timer();
        form->Timer1->stop();
    }

    std::vector<Write> Writes() const { return WritesTakenBy(TheVirtualGenerator()); }

    // Commands of the frames the device received since the log was cleared.
    std::vector<int> Commands() const
    {
        std::vector<int> commands;
        for (const auto &frame : TheVirtualGenerator().FrameLog()) {
            commands.push_back(frame.command);
        }
        return commands;
    }

    // The operator clicks into a control (focus entry).
    void ClickInto(QWidget *w) { QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(5, 5)); }

    // The operator tabs into a control (a drop-down list would open its popup
    // when clicked).
    void TabInto(QWidget *w) { w->setFocus(Qt::TabFocusReason); }

    // The operator clicks into a field, types and presses Enter.
    void TypeEnter(TFloatEdit *field, const QString &text)
    {
        ClickInto(field);
        field->selectAll();
        QTest::keyClicks(field, text);
        QTest::keyClick(field, Qt::Key_Return);
    }

    std::unique_ptr<TMainForm> form;
    std::vector<ErrorBox> boxes;

private:
    QTemporaryDir dir_;
    ErrorPresenter previous_;
};
