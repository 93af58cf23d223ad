#pragma once
// A one-line label that shows as much of its text as fits, cut in the middle
// (a path keeps its drive and its file name), with the whole text as its
// tool tip. It never asks its layout for more room than a few letters.
#include <QLabel>
#include <QString>

namespace brisko {

class ElidedLabel final : public QLabel {
    Q_OBJECT

  public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    void setFullText(const QString& text);
    const QString& fullText() const { return full_; }
    QSize minimumSizeHint() const override;

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void elide();

    QString full_;
};

}  // namespace brisko
