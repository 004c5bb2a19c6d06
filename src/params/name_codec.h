#ifndef STRANDOR_PARAMS_NAME_CODEC_H
#define STRANDOR_PARAMS_NAME_CODEC_H

#include <QString>

/// File names are bytes. Under a UTF-8 locale Qt decodes them as UTF-8 and leaves out of
/// every directory listing a name that is not valid UTF-8. This installs, as the locale's
/// codec, UTF-8 that keeps each byte b of an invalid sequence as the private-use character
/// U+EF00 + b (0x80 <= b <= 0xFF) and writes such a character back as its byte: every name
/// survives QFile::decodeName and QFile::encodeName unchanged. Called first thing in main,
/// before anything decodes a name or an argument.
///
/// Not lone surrogates: a string holding one is no valid UTF-16, and QRegularExpression
/// matches nothing in it, such as the time stamp of the name. The 128 characters that keep
/// bytes are themselves read as bytes when a name spells them in UTF-8, so that the round
/// trip stays exact; in a text from elsewhere, such as a configured name, they stand for
/// bytes too.
void install_name_codec();

/// The byte that text[i] stands for when it is such a character, otherwise -1.
int kept_byte(const QString &text, int i);

#endif
