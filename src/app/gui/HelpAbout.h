// The about box: Orvane's picture, 450 by 300 pixels, centred on the screen.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class QSvgRenderer;

class CHelpAbout : public QDialog {
    Q_OBJECT
public:
    static constexpr int kWidth = 450;
    static constexpr int kHeight = 300;

    explicit CHelpAbout(QWidget* parent = nullptr);
    ~CHelpAbout() override;

    // The two text lines over the picture (controls 1060 and 1112): the version and the maker.
    QString FirstLine() const;
    QString SecondLine() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void OnInitDialog();

    QSvgRenderer* m_picture;
    QLabel* m_line1060;
    QLabel* m_line1112;
    QPushButton* m_ok;
};
