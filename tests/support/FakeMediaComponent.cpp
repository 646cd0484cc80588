#include "FakeMediaComponent.h"

#include <algorithm>

void FakeMediaComponent::setState(int state)
{
    m_state = state;
    emit statusChange();
}

void FakeMediaComponent::setMedia(const QString &name, double duration)
{
    m_name = name;
    m_duration = duration;
}

void FakeMediaComponent::learnDuration(double seconds)
{
    m_duration = seconds;
    emit durationChanged();
}

void FakeMediaComponent::setTags(const TrackTags &tags)
{
    m_tags = tags;
    emit tagsChanged();
}

void FakeMediaComponent::setUrl(const QString &path)
{
    calls.append(QStringLiteral("setUrl:") + path);
    urls.append(path);
    m_url = path;
    m_position = 0;
    m_tags = TrackTags();
    nextUrl.clear();
}

bool FakeMediaComponent::startNext()
{
    if (nextUrl.isEmpty())
        return false;
    m_url = nextUrl;
    nextUrl.clear();
    m_tags = TrackTags();
    m_position = 0;
    emit mediaChanged();
    return true;
}

void FakeMediaComponent::play()
{
    calls.append(QStringLiteral("play"));
}

void FakeMediaComponent::pause()
{
    calls.append(QStringLiteral("pause"));
}

void FakeMediaComponent::stop()
{
    calls.append(QStringLiteral("stop"));
    nextUrl.clear();
}

void FakeMediaComponent::setCurrentPosition(double seconds)
{
    calls.append(QStringLiteral("seek:%1").arg(seconds));
    m_position = seconds;
}

void FakeMediaComponent::setVolume(int volume)
{
    m_volume = std::clamp(volume, 0, 100);
}

void FakeMediaComponent::setMute(bool on)
{
    m_mute = on;
}

bool FakeMediaComponent::setRate(double rate)
{
    if (m_refuseRates || !(rate > 0))
        return false;
    m_rate = rate;
    return true;
}

void FakeMediaComponent::setBalance(int balance)
{
    m_balance = std::clamp(balance, -100, 100);
}
