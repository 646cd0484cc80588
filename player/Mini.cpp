#include "Mini.h"

#include "FrmPlayer.h"
#include "ImageButton.h"
#include "Names.h"
#include "Pictures.h"

#include "MediaComponent.h"
#include "ShapedWindow.h"
#include "Twips.h"
#include "WindowPresence.h"

#include <QCloseEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QTimer>

namespace {

// The status line moves this far each tick: 1000 twips a second.
constexpr double kScrollStep = 100;

void setTextColour(QLabel *label, const QColor &colour)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

} // namespace

Mini::Mini(FrmPlayer *main) : m_main(main)
{
    setObjectName(QStringLiteral("Mini"));
    setWindowTitle(Names::kPlayerCaption);
    setWindowIcon(QIcon(Pictures::path("app.svg")));
    setAccessibleDescription(QStringLiteral("迷你模式"));
    setAttribute(Qt::WA_DeleteOnClose);
    ShapedWindow::apply(this);
    setFixedSize(kClientWidth, kClientHeight);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(Twips::toPixels({0, 0, 3000, 2295}));
    // Its outline borders the transparent blue, so it has no half-transparent edge.
    Image1->setPixmap(ShapedWindow::hardEdged(
        Pictures::render(Pictures::path("mini_body.svg"), Image1->size(), devicePixelRatioF())));
    Image1->setAccessibleName(QStringLiteral("迷你播放器"));
    Image1->setAccessibleDescription(QStringLiteral("按住左键拖动可移动窗口"));
    Image1->installEventFilter(this);

    Image4 = addButton("Image4", "mini_play.svg", QStringLiteral("播放/暂停"), {1365, 525, 300, 300});
    Image2 = addButton("Image2", "mini_prev.svg", QStringLiteral("上一曲"), {750, 960, 300, 300});
    Image3 = addButton("Image3", "mini_next.svg", QStringLiteral("下一曲"), {1965, 960, 300, 300});
    Image5 = addButton("Image5", "mini_rewind.svg", QStringLiteral("快退10秒"), {360, 960, 300, 300});
    Image6 = addButton("Image6", "mini_forward.svg", QStringLiteral("快进10秒"), {2340, 960, 300, 300});
    Image7 = addButton("Image7", "mini_stop.svg", QStringLiteral("停止"), {1365, 1605, 300, 300});
    Image10 = addButton("Image10", "mini_back.svg", QStringLiteral("返回主窗口"), {1110, 105, 810, 300});
    // The two pictures of the toggle, held out of sight.
    Image8 = addButton("Image8", "mini_pause.svg", QStringLiteral("暂停"), {0, 0, 300, 300});
    Image9 = addButton("Image9", "mini_play.svg", QStringLiteral("播放"), {0, 0, 300, 300});
    for (ImageButton *holder : {Image8, Image9}) {
        holder->setEnabled(false);
        holder->hide();
    }

    Label3 = addTimeLabel("Label3", {1095, 900, 840, 180});
    Label2 = addTimeLabel("Label2", {1095, 1245, 840, 180});

    // Below the picture, so it carries a dark strip of its own to stay legible
    // over any desktop.
    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setContentsMargins(4, 1, 4, 1);
    QFont status = Label1->font();
    status.setPixelSize(12);
    Label1->setFont(status);
    setTextColour(Label1, QColor(232, 232, 255));
    QPalette strip = Label1->palette();
    strip.setColor(QPalette::Window, QColor(10, 14, 24));
    Label1->setPalette(strip);
    Label1->setAutoFillBackground(true);
    Label1->move(0, Twips::toPixels(2370));
    setLabel1Text(QString());

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(100);
    connect(Timer1, &QTimer::timeout, this, &Mini::Timer1_Timer);

    using Handler = void (Mini::*)();
    const QList<QPair<ImageButton *, Handler>> buttons = {
        {Image2, &Mini::Image2_Click},   {Image3, &Mini::Image3_Click}, {Image4, &Mini::Image4_Click},
        {Image5, &Mini::Image5_Click},   {Image6, &Mini::Image6_Click}, {Image7, &Mini::Image7_Click},
        {Image10, &Mini::Image10_Click},
    };
    for (const auto &[button, handler] : buttons)
        connect(button, &QAbstractButton::clicked, this, handler);
}

Mini::~Mini() = default;

ImageButton *Mini::addButton(const char *name, const char *picture, const QString &toolTip,
                             const QRect &twips)
{
    return new ImageButton(QLatin1String(name), Pictures::path(picture), toolTip, Twips::toPixels(twips),
                           this);
}

QLabel *Mini::addTimeLabel(const char *name, const QRect &twips)
{
    auto *label = new QLabel(QStringLiteral("00:00:00"), this);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(Twips::toPixels(twips));
    label->setAlignment(Qt::AlignCenter);
    QFont font = label->font();
    font.setPixelSize(11);
    label->setFont(font);
    setTextColour(label, QColor(192, 192, 255));
    return label;
}

void Mini::load()
{
    move(m_main->x() + Twips::toPixels(3200), m_main->y() + Twips::toPixels(1800));
    // The status text comes in from beyond the right edge.
    setLabel1Left(Twips::fromPixels(width()));
    const bool playing = m_main->media()->playState() == MediaComponent::Playing;
    Image4->setPicture((playing ? Image8 : Image9)->pictureFile());
    // Set before the window is shown, so no native window is re-created.
    if (m_main->topmostCaption() == QStringLiteral("取消置顶"))
        setWindowFlag(Qt::WindowStaysOnTopHint, true);
    m_presence = WindowPresence::announce(Names::kPlayerCaption);
    Timer1->start();
}

bool Mini::showsPlayPicture() const
{
    return Image4->pictureFile() == Image9->pictureFile();
}

int Mini::label1Width() const
{
    return int(Twips::fromPixels(Label1->width()));
}

void Mini::setLabel1Left(double twips)
{
    m_label1Left = twips;
    Label1->move(Twips::toPixels(twips), Label1->y());
}

void Mini::setLabel1Text(const QString &text)
{
    Label1->setText(text);
    Label1->adjustSize();
    // No empty dark strip before the first status arrives.
    Label1->setVisible(!text.isEmpty());
}

void Mini::Image2_Click()
{
    m_main->imgPrev_Click();
}

void Mini::Image3_Click()
{
    m_main->imgNext_Click();
}

void Mini::Image4_Click()
{
    if (showsPlayPicture()) {
        if (m_main->playlist().count() > 0) {
            m_main->imgPlay_Click();
            setLabel1Left(label1Width());
            Image4->setPicture(Image8->pictureFile());
        } else {
            m_main->AddFiles();
        }
    } else if (Image4->pictureFile() == Image8->pictureFile()) {
        Image4->setPicture(Image9->pictureFile());
        m_main->imgPause_Click();
    }
}

void Mini::Image5_Click()
{
    m_main->imgStepfront_Click();
}

void Mini::Image6_Click()
{
    m_main->imgStepback_Click();
}

void Mini::Image7_Click()
{
    m_main->imgStop_Click();
    Image4->setPicture(Image9->pictureFile());
}

void Mini::Image10_Click()
{
    // Closing brings the main window back.
    close();
}

void Mini::Timer1_Timer()
{
    const QString status = m_main->statusCaption();
    const bool playing = status.startsWith(Names::kStatusPlaying);
    if (playing || status.startsWith(Names::kStatusPaused) || status.startsWith(Names::kStatusStopped))
        setLabel1Text(status);

    const QString shown = Label1->text();
    if (shown == Names::kStatusPaused || shown == Names::kStatusStopped) {
        setLabel1Left(Twips::fromPixels(width()) / 2.0 - label1Width() / 2.0);
    } else if (playing) {
        setLabel1Left(m_label1Left - kScrollStep);
        // Gone off the left edge: in again from the right.
        if (m_label1Left <= -label1Width())
            setLabel1Left(label1Width());
    }

    Label2->setText(m_main->timeCaption());
    Label3->setText(m_main->totalTimeCaption());
}

bool Mini::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Image1) {
        if (event->type() == QEvent::MouseButtonPress) {
            m_drag = static_cast<QMouseEvent *>(event)->position().toPoint();
            return true;
        }
        if (event->type() == QEvent::MouseMove) {
            auto *mouse = static_cast<QMouseEvent *>(event);
            // The grabbed point stays under the pointer.
            if (mouse->buttons() == Qt::LeftButton)
                move(mouse->globalPosition().toPoint() - Image1->mapTo(this, m_drag));
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// However the mini window goes (its button, or the desktop closing it), the
// main window comes back: a player without any window could not be reached.
void Mini::closeEvent(QCloseEvent *event)
{
    Timer1->stop();
    m_presence.reset();
    if (!m_main->isEnding())
        m_main->show();
    event->accept();
}
