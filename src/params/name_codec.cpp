#include "name_codec.h"

#include <QTextCodec>

namespace {

// A byte b that begins no valid sequence is kept as the character KEPT_BASE + b.
const uint KEPT_BASE = 0xEF00;
const uint KEPT_FIRST = 0xEF80;
const uint KEPT_LAST = 0xEFFF;

/// The length of the valid UTF-8 sequence at s (left bytes long) and its character, or 0:
/// no overlong forms, no surrogates, nothing above U+10FFFF, as Qt's own decoder; and none
/// of the characters that keep bytes.
int sequence_length(const uchar *s, int left, uint &c)
{
    const uchar b = s[0];
    c = b;
    if (b < 0x80)
        return 1;
    int n;
    uchar low = 0x80, high = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        n = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        low = b == 0xE0 ? 0xA0 : low;
        high = b == 0xED ? 0x9F : high;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        low = b == 0xF0 ? 0x90 : low;
        high = b == 0xF4 ? 0x8F : high;
    } else {
        return 0;
    }
    if (left < n || s[1] < low || s[1] > high)
        return 0;
    c = b & (0x7F >> n);
    for (int k = 1; k < n; ++k) {
        if (s[k] < 0x80 || s[k] > 0xBF)
            return 0;
        c = c << 6 | (s[k] & 0x3F);
    }
    return c >= KEPT_FIRST && c <= KEPT_LAST ? 0 : n;
}

class NameCodec : public QTextCodec {
public:
    QByteArray name() const override { return "UTF-8 with kept bytes"; }
    // Not 106, UTF-8's number: Qt's directory listing would keep to valid UTF-8 again.
    int mibEnum() const override { return 0; }

protected:
    // Each call converts its input whole and leaves nothing for a next call: names and
    // arguments come whole, and the directory listing takes a remainder for a fault.
    QString convertToUnicode(const char *in, int length, ConverterState *) const override
    {
        const auto *s = reinterpret_cast<const uchar *>(in);
        QString out;
        out.reserve(length);
        for (int i = 0; i < length;) {
            uint c;
            const int n = sequence_length(s + i, length - i, c);
            if (n == 0) {
                out += QChar(KEPT_BASE + s[i++]);
                continue;
            }
            i += n;
            if (QChar::requiresSurrogates(c)) {
                out += QChar(QChar::highSurrogate(c));
                out += QChar(QChar::lowSurrogate(c));
            } else {
                out += QChar(c);
            }
        }
        return out;
    }

    QByteArray convertFromUnicode(const QChar *in, int length, ConverterState *state) const override
    {
        QByteArray out;
        out.reserve(length);
        for (int i = 0; i < length; ++i) {
            uint c = in[i].unicode();
            if (QChar::isHighSurrogate(c) && i + 1 < length && in[i + 1].isLowSurrogate()) {
                c = QChar::surrogateToUcs4(ushort(c), in[++i].unicode());
            } else if (QChar::isSurrogate(c)) {
                // No decoded name holds one; as Qt's UTF-8 encoder does.
                out += '?';
                if (state)
                    ++state->invalidChars;
                continue;
            }
            if (c < 0x80 || (c >= KEPT_FIRST && c <= KEPT_LAST)) {
                out += char(c & 0xFF);
            } else if (c < 0x800) {
                out += char(0xC0 | c >> 6);
                out += char(0x80 | (c & 0x3F));
            } else if (c < 0x10000) {
                out += char(0xE0 | c >> 12);
                out += char(0x80 | (c >> 6 & 0x3F));
                out += char(0x80 | (c & 0x3F));
            } else {
                out += char(0xF0 | c >> 18);
                out += char(0x80 | (c >> 12 & 0x3F));
                out += char(0x80 | (c >> 6 & 0x3F));
                out += char(0x80 | (c & 0x3F));
            }
        }
        return out;
    }
};

} // namespace

void install_name_codec()
{
    // Another locale's codec stays: it names files in its own encoding, as it always did.
    QTextCodec *locale = QTextCodec::codecForLocale();
    if (locale && locale->mibEnum() == 106)
        QTextCodec::setCodecForLocale(new NameCodec); // Qt keeps every codec till the end
}

int kept_byte(const QString &text, int i)
{
    const uint c = text.at(i).unicode();
    return c >= KEPT_FIRST && c <= KEPT_LAST ? int(c - KEPT_BASE) : -1;
}
