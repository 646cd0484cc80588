#pragma once

#include <QAbstractButton>
#include <QPixmap>

// A skinned button drawn from one picture: brighter under the pointer, pressed
// in while held, and clicked on release inside the button. Screen readers get
// its tooltip as name and description, and can press it.
class ImageButton : public QAbstractButton
{
    Q_OBJECT
public:
    ImageButton(const QString &name, const QString &picture, const QString &toolTip, const QRect &geometry,
                QWidget *parent);

    QSize sizeHint() const override;

    // The picture file shown; two buttons show the same picture when these match.
    const QString &pictureFile() const { return m_pictureFile; }
    void setPicture(const QString &picture);

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    const QPixmap &picture();

    QString m_pictureFile;
    QPixmap m_picture;
    bool m_hovered = false;
};
