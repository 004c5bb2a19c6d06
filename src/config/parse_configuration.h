#ifndef STRANDOR_CONFIG_PARSE_CONFIGURATION_H
#define STRANDOR_CONFIG_PARSE_CONFIGURATION_H

#include <QStringList>

/// A syntax error as the parser's tables describe it, in plain words, so that the
/// messages about it are made outside the grammar.
struct SYNTAX_ERROR {
    /// The offending token's bytes as scanned.
    const char *text = "";
    /// The input ended where more was wanted.
    bool at_end = false;
    /// The token is an identifier or a number: perhaps a misspelt keyword.
    bool word = false;
    /// The tokens the grammar would have taken, as written in a configuration, in the
    /// parser's order.
    QStringList expected;
    /// Every token of the language but the identifier, as written, in the parser's order.
    QStringList terminals;
};

/// Logs the error line and its hints: what was found, what would have been taken, and
/// the keyword that a misspelt word is closest to.
void report_syntax_error(const SYNTAX_ERROR &error);

#endif
