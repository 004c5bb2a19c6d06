#include "parse_configuration.h"

#include <QRegularExpression>
#include <QTextCodec>
#include <QVector>

#include <cstdlib>

#include "config_parser.hpp"
#include "elog.h"
#include "gl_param.h"
#include "global_parser.h"
#include "tree_builder.h"

void global_error(const char *message)
{
    elog.log(QString::asprintf("%s in line %i\n", message, GL_param.line_number));
}

static int edit_distance(const QString &a, const QString &b)
{
    QVector<int> row(b.size() + 1);
    for (int j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (int i = 1; i <= a.size(); ++i) {
        int diagonal = row[0];
        row[0] = i;
        for (int j = 1; j <= b.size(); ++j) {
            const int above = row[j];
            row[j] = qMin(qMin(row[j] + 1, row[j - 1] + 1), diagonal + (a[i - 1] == b[j - 1] ? 0 : 1));
            diagonal = above;
        }
    }
    return row[b.size()];
}

/// The keyword closest to word, ignoring case, if it is at most two edits away and fewer
/// edits than the word has letters (a stray letter is no misspelt OR); the first of the
/// terminals wins a tie.
static QString closest_keyword(const QString &word, const QStringList &terminals)
{
    static const QRegularExpression keyword(QStringLiteral("^[A-Z0-9_]{2,}$"));
    QString best;
    int best_distance = 3;
    for (const QString &name : terminals) {
        if (!keyword.match(name).hasMatch())
            continue;
        const int distance = edit_distance(word.toUpper(), name);
        if (distance < best_distance && distance < word.size()) {
            best = name;
            best_distance = distance;
        }
    }
    return best;
}

/// The word that the offending token begins: "60MIN" is scanned as 60 and MIN. Reads on,
/// which is harmless once the parse has failed; the lookahead's value stays for its destructor.
static QString offending_word(const QString &text)
{
    static const QRegularExpression word_part(QStringLiteral("^[A-Za-z0-9_]+$"));
    const GLOBAL_STYPE lookahead = global_lval;
    QString word = text;
    long end = global_token_end;
    for (;;) {
        const int code = global_lex();
        const bool adjacent = code != 0 && global_token_start == end;
        const QString part = QString::fromUtf8(global_text);
        if (code == TOK_IDENTIFIER || code == TOK_QUOTED_STRING)
            free(global_lval.text);
        if (!adjacent || !word_part.match(part).hasMatch())
            break;
        word += part;
        end = global_token_end;
    }
    global_lval = lookahead;
    return word;
}

// The error line as ever, then what was found and what the grammar would have taken.
void report_syntax_error(const SYNTAX_ERROR &error)
{
    global_error("syntax error");
    QString text = QString::fromUtf8(error.text);
    const unsigned char first = static_cast<unsigned char>(error.text[0]);
    if (error.at_end)
        text = "end of file";
    else if (first == 0)
        text = "NUL byte";
    else if (first >= 0x80 && error.text[1] == 0)
        text = QString::asprintf("byte 0x%02x", first);
    else if (text.size() > 40 || text.contains('\n'))
        text = text.left(40).section('\n', 0, 0) + "...";
    const int count = error.expected.size();
    QString list = error.expected.mid(0, 5).join(", ");
    if (count > 5)
        list += ", ...";
    else if (count > 1)
        list.replace(list.lastIndexOf(", "), 2, " or ");
    elog.log(QString("HINT: unexpected %1, expected %2\n").arg(text, count > 0 ? list : "nothing more"));
    if (error.word) {
        const QString word = offending_word(text);
        const QString keyword = closest_keyword(word, error.terminals);
        if (!keyword.isEmpty() && keyword != word)
            elog.log(QString("HINT: did you mean %1?\n").arg(keyword));
    }
}

static int generation = 0;

int configuration_generation()
{
    return generation;
}

int parse_configuration(FILE *input)
{
    ++generation;
    // Read whole first: its strings are UTF-8 only if all of it is. A read error is left
    // for the scanner to meet and report.
    QByteArray text;
    char chunk[4096];
    for (size_t n; (n = fread(chunk, 1, sizeof chunk, input)) > 0;)
        text.append(chunk, int(n));
    QTextCodec::ConverterState state;
    QTextCodec::codecForMib(106)->toUnicode(text.constData(), text.size(), &state);
    set_strings_utf8(state.invalidChars == 0 && state.remainingChars == 0);
    FILE *copy = text.isEmpty() || ferror(input) ? nullptr : fmemopen(text.data(), size_t(text.size()), "rb");
    if (!copy && !ferror(input))
        rewind(input);
    global_restart(copy ? copy : input);
    GL_param.line_number = 1;
    global_token_start = global_token_end = 0;
    const int result = global_parse();
    if (copy)
        fclose(copy);
    return result;
}
