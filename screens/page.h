#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class QVBoxLayout;

// A page of the main window: a panel named after the page with its title on
// top; the page's controls go into Body().
class TPage : public QWidget {
    Q_OBJECT
  public:
    TPage(const QString &name, const QString &title, QWidget *parent = nullptr,
          const QString &titleName = QString());

    QVBoxLayout *Body() const { return body; }
    QLabel *Title() const { return title; }

    // A push button named `name` with `text`.
    static QPushButton *Button(const QString &name, const QString &text);

  private:
    QVBoxLayout *body;
    QLabel *title;
};
