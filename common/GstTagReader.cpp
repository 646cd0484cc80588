#include "GstTagReader.h"

#include "BoundedText.h"
#include "CoverArt.h"
#include "LyricsFinder.h"

#include <gst/gst.h>
#include <gst/tag/tag.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

// A tag may hold several artists; a client shows a few.
constexpr guint kMaxArtists = 8;
// Pictures looked at in one list, for the front cover among them.
constexpr guint kMaxPictures = 16;
// Vorbis comments and ID3v2 frames of their own looked at in one list, for lyrics.
constexpr guint kMaxComments = 64;
constexpr guint kMaxFrames = 32;
// ID3v2 frames the engine does not read itself; USLT, the lyrics, is one.
constexpr char kId3Frame[] = "private-id3v2-frame";

QString textOf(const GstTagList *list, const char *tag, guint index = 0)
{
    // Read in place and cut: a tag can hold megabytes that no label can lay out.
    const gchar *text = nullptr;
    if (!gst_tag_list_peek_string_index(list, tag, index, &text) || !text)
        return QString();
    return BoundedText::forDisplayFromUtf8(text).trimmed();
}

QString boundedLyrics(const gchar *text)
{
    return QString::fromUtf8(text, qsizetype(strnlen(text, size_t(LyricsFinder::kMaxBytes))));
}

// MP4's ©lyr is the engine's lyrics tag; Vorbis comments (Ogg, FLAC, Opus)
// come as "KEY=value", and ID3v2's USLT as the frame itself.
QString lyricsOf(const GstTagList *list)
{
    const gchar *text = nullptr;
    if (gst_tag_list_peek_string_index(list, GST_TAG_LYRICS, 0, &text) && text && *text)
        return boundedLyrics(text);
    const guint comments = std::min(gst_tag_list_get_tag_size(list, GST_TAG_EXTENDED_COMMENT), kMaxComments);
    for (const char *key : {"LYRICS=", "UNSYNCEDLYRICS="}) {
        for (guint i = 0; i < comments; ++i) {
            if (gst_tag_list_peek_string_index(list, GST_TAG_EXTENDED_COMMENT, i, &text) && text &&
                g_ascii_strncasecmp(text, key, strlen(key)) == 0 && text[strlen(key)])
                return boundedLyrics(text + strlen(key));
        }
    }
    const guint frames = std::min(gst_tag_list_get_tag_size(list, kId3Frame), kMaxFrames);
    for (guint i = 0; i < frames; ++i) {
        GstSample *sample = nullptr;
        if (!gst_tag_list_get_sample_index(list, kId3Frame, i, &sample))
            continue;
        QString lyrics;
        GstBuffer *buffer = gst_sample_get_buffer(sample);
        GstMapInfo map;
        if (buffer && gst_buffer_get_size(buffer) <= gsize(LyricsFinder::kMaxBytes) &&
            gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            lyrics = LyricsFinder::fromId3Frame(
                QByteArrayView(reinterpret_cast<const char *>(map.data), qsizetype(map.size)));
            gst_buffer_unmap(buffer, &map);
        }
        gst_sample_unref(sample);
        if (!lyrics.isEmpty())
            return lyrics;
    }
    return QString();
}

bool isFrontCover(GstSample *sample)
{
    const GstStructure *info = gst_sample_get_info(sample);
    gint type = GST_TAG_IMAGE_TYPE_NONE;
    return info && gst_structure_get_enum(info, "image-type", GST_TYPE_TAG_IMAGE_TYPE, &type) &&
           type == GST_TAG_IMAGE_TYPE_FRONT_COVER;
}

} // namespace

void GstTagReader::start(const QString &localFile, const TrackTags &known)
{
    m_tags = known;
    if (m_tags.artUrl.isEmpty())
        m_tags.artUrl = CoverArt::besideFile(localFile);
    m_pictureSeen = false;
}

bool GstTagReader::read(const GstTagList *list)
{
    if (!list)
        return false;
    const TrackTags before = m_tags;
    if (m_tags.title.isEmpty())
        m_tags.title = textOf(list, GST_TAG_TITLE);
    if (m_tags.artists.isEmpty()) {
        const guint count = std::min(gst_tag_list_get_tag_size(list, GST_TAG_ARTIST), kMaxArtists);
        for (guint i = 0; i < count; ++i) {
            const QString artist = textOf(list, GST_TAG_ARTIST, i);
            if (!artist.isEmpty())
                m_tags.artists.append(artist);
        }
    }
    if (m_tags.album.isEmpty())
        m_tags.album = textOf(list, GST_TAG_ALBUM);
    guint number = 0;
    if (m_tags.trackNumber == 0 && gst_tag_list_get_uint_index(list, GST_TAG_TRACK_NUMBER, 0, &number) &&
        number <= INT_MAX)
        m_tags.trackNumber = int(number);
    if (m_tags.lyrics.isEmpty())
        m_tags.lyrics = lyricsOf(list);
    if (!m_pictureSeen) {
        const QString picture = embeddedPicture(list);
        if (!picture.isEmpty())
            m_tags.artUrl = picture;
    }
    return !(m_tags == before);
}

QString GstTagReader::embeddedPicture(const GstTagList *list)
{
    for (const char *tag : {GST_TAG_IMAGE, GST_TAG_PREVIEW_IMAGE}) {
        const guint count = std::min(gst_tag_list_get_tag_size(list, tag), kMaxPictures);
        if (count == 0)
            continue;
        // The front cover where the track says which picture is which, else the first.
        GstSample *chosen = nullptr;
        for (guint i = 0; i < count; ++i) {
            GstSample *sample = nullptr;
            if (!gst_tag_list_get_sample_index(list, tag, i, &sample))
                continue;
            if (!chosen) {
                chosen = sample;
            } else if (isFrontCover(sample)) {
                gst_sample_unref(chosen);
                chosen = sample;
            } else {
                gst_sample_unref(sample);
            }
            if (isFrontCover(chosen))
                break;
        }
        if (!chosen)
            continue;
        m_pictureSeen = true;
        QString url;
        GstBuffer *buffer = gst_sample_get_buffer(chosen);
        GstMapInfo map;
        if (buffer && gst_buffer_get_size(buffer) <= gsize(CoverArt::kMaxPictureBytes) &&
            gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            url = CoverArt::storeEmbedded(
                QByteArray::fromRawData(reinterpret_cast<const char *>(map.data), qsizetype(map.size)));
            gst_buffer_unmap(buffer, &map);
        }
        gst_sample_unref(chosen);
        return url;
    }
    return QString();
}
