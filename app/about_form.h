// TAboutForm: the About box. Frees itself when it closes and empties
// AboutForm, so every opening creates a new one. Opens centred on the main
// window.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class QFrame;

class TAboutForm : public QDialog {
public:
    explicit TAboutForm(QWidget *parent = nullptr);
    ~TAboutForm() override;

    // Placeholder addresses of the maker.
    static constexpr const char *kWebAddress = "www.example.com/px418";
    static constexpr const char *kMailAddress = "support@example.com";

    QFrame *Panel1 = nullptr;
    QLabel *Image1 = nullptr;  // 32 x 32 icon
    QLabel *Image2 = nullptr;  // title picture
    QLabel *Image3 = nullptr;  // wide picture
    QLabel *Label1 = nullptr;  // "3-phase generator PX-418"
    QLabel *Label2 = nullptr;  // web address
    QLabel *Label3 = nullptr;  // protocol and e-mail
    QPushButton *btOk = nullptr;

    // The pictures, drawn here rather than loaded from files.
    static QPixmap DrawIcon();
    static QPixmap DrawTitle(int width, int height);
    static QPixmap DrawWaves(int width, int height);

    void done(int result) override;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;
};

extern TAboutForm *AboutForm;
