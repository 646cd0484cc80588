#include "PlayerFixture.h"

#include "ImageButton.h"

#include <QLabel>
#include <QListWidget>
#include <QTest>

PlayerFixture::PlayerFixture(const QString &programFolder)
{
    services.media = &media;
    services.prompts = &prompts;
    services.shell = &shell;
    services.connectivity = &connectivity;
    services.programFolder = programFolder.isEmpty() ? dir.path() : programFolder;
    services.noticeUrl = QStringLiteral("http://127.0.0.1:9/notice.html");
    window = std::make_unique<FrmPlayer>(services);
}

bool PlayerFixture::load()
{
    return window->load();
}

void PlayerFixture::useNoticeSite(const QString &noticeUrl, bool connected,
                                  const std::function<void(PlayerServices &)> &tune)
{
    connectivity.connected = connected;
    services.noticeUrl = noticeUrl;
    services.pushTickMs = kNever;
    services.updateTickMs = 2;
    services.handOffDelayMs = 100;
    services.handOffRecheckMs = 100;
    services.handOffRetryMs = 100;
    services.transferTimeoutMs = 1000;
    services.quit = [this] { ++quits; };
    if (tune)
        tune(services);
    window = std::make_unique<FrmPlayer>(services);
}

QListWidget *PlayerFixture::listName() const
{
    return window->findChild<QListWidget *>(QStringLiteral("listName"));
}

QListWidget *PlayerFixture::listUrl() const
{
    return window->findChild<QListWidget *>(QStringLiteral("listUrl"));
}

QLabel *PlayerFixture::label(const char *name) const
{
    return window->findChild<QLabel *>(QLatin1String(name));
}

static QStringList textsOf(const QListWidget *list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts.append(list->item(i)->text());
    return texts;
}

QStringList PlayerFixture::names() const
{
    return textsOf(listName());
}

QStringList PlayerFixture::urls() const
{
    return textsOf(listUrl());
}

QString PlayerFixture::count() const
{
    return label("lblTotlenum")->text();
}

void PlayerFixture::click(const char *button, int times) const
{
    auto *target = window->findChild<ImageButton *>(QLatin1String(button));
    for (int i = 0; i < times; ++i)
        QTest::mouseClick(target, Qt::LeftButton);
}

QStringList PlayerFixture::paths(int n)
{
    QStringList list;
    for (int i = 0; i < n; ++i)
        list.append(QStringLiteral("/m/%1.mp3").arg(i));
    return list;
}
