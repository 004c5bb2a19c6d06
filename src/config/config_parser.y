%{
#include <QRegularExpression>
#include <QStringList>
#include <QTextCodec>
#include <QVector>

#include "attribute.h"
#include "column_kinds.h"
#include "elog.h"
#include "gl_param.h"
#include "global_parser.h"
#include "tree_builder.h"
%}

%code requires {
class ATTRIBUTE;
}

%define api.prefix {global_}
%define api.token.prefix {TOK_}
%define parse.error custom
// Exact expected tokens in syntax errors, which default reductions would blur.
%define parse.lac full
%expect 0

%union {
    char *text;
    int number;
    class ATTRIBUTE *node;
}

// Aliases are the words as they stand in a configuration, for syntax error hints.
%token <text> QUOTED_STRING 258 "quoted string"
%token <text> IDENTIFIER 259
%token <number> INTEGER 260 "number"
%token GLOBALS 261 VERSION 262 FILE_MASK 263 TIME_FORMAT 264 COLUMN_SEPARATOR 265
%token HEADER_SIZE_MAX 266 INPUTFILE 267 GENERATES 268 MEASUREMENT 269
%token MEASUREMENTNAME 270 GRANULARITY 271 H24 272 "24H" MIN15 273 "15MIN" EVENT 274 MATCH 275
%token AND 276 NEEDS 277 VOID 278 POINTER 279 "->" COLUMNS 280 ATTRIBUTE 281
%token ATTRIBUTE_BOOL 282 "BOOLATTRIBUTE" ATTRIBUTE_CONVERT 283 "CONVERTATTRIBUTE"
%token ATTRIBUTE_REGEXP 284 "REGEXPATTRIBUTE" UTC_FILESTAMP 285
%token MS_TO_UTC 286 MS_TO_LOCAL 287 STRING_TO_LOCAL 288 STRING_TO_UTC 289
%token ATTRIBUTE_ARG 290 "ARGATTRIBUTE"
%token LISTATTRIBUTE 291 LISTINDEX 292 MAPATTRIBUTE 293
%token ABSENT_VALUES 295 KEEP 296 EMPTY 297 AT_END 298
// Not a token of the language: the look-up half of a MAPATTRIBUTE, the last child of its
// node. The tree carries the parser's codes as node types.
%token LOOKUP 294 "look-up path"
%token OUTPUT_FORMAT 299 TEXT 300 TSV 301 CSV 302 COMPRESSION_LEVEL 303 EMPTY_OUTPUTS 304 SKIP 305

%type <node> inputfile_list inputfile measurement_list measurement measurement_items
%type <node> measurement_item match_items match_item pointer_path pointer_elem
%type <node> column_items column_item

// A syntax error abandons what was built so far.
%destructor { free_tree($$); } <node>
%destructor { free($$); } <text>

%%

configuration: GLOBALS '{' global_settings '}' inputfile_list
    { GL_param.description_root = $5; }
    ;

global_settings: %empty
    | global_settings global_setting
    ;

global_setting: VERSION QUOTED_STRING     { GL_param.version = unquote($2); }
    | FILE_MASK QUOTED_STRING              { GL_param.file_mask = unquote($2); }
    | TIME_FORMAT QUOTED_STRING            { GL_param.time_format = unquote($2); }
    | COLUMN_SEPARATOR QUOTED_STRING       { GL_param.column_separator = unquote($2); GL_param.separator_given = true; }
    | HEADER_SIZE_MAX INTEGER              { GL_param.max_header_size = $2; }
    | ABSENT_VALUES KEEP                   { GL_param.empty_absent_values = false; }
    | ABSENT_VALUES EMPTY                  { GL_param.empty_absent_values = true; }
    | OUTPUT_FORMAT TEXT                   { GL_param.output_format = OUTPUT_FORMAT::TEXT; }
    | OUTPUT_FORMAT TSV                    { GL_param.output_format = OUTPUT_FORMAT::TSV; }
    | OUTPUT_FORMAT CSV                    { GL_param.output_format = OUTPUT_FORMAT::CSV; }
    | COMPRESSION_LEVEL INTEGER            { GL_param.compression_level = $2; }
    | EMPTY_OUTPUTS KEEP                   { GL_param.skip_empty_outputs = false; }
    | EMPTY_OUTPUTS SKIP                   { GL_param.skip_empty_outputs = true; }
    ;

inputfile_list: %empty                     { $$ = nullptr; }
    | inputfile_list inputfile             { $$ = append($1, $2); }
    ;

// The line of the pattern, before the block moves the scanner on.
inputfile: INPUTFILE QUOTED_STRING { $<number>$ = GL_param.line_number; } '{' measurement_list '}'
    { $$ = new_node(TOK_INPUTFILE, unquote($2), $5); $$->line = $<number>3; }
    ;

measurement_list: %empty                   { $$ = nullptr; }
    | measurement_list measurement         { $$ = append($1, $2); }
    ;

measurement: GENERATES MEASUREMENT '{' measurement_items '}'
    { $$ = new_node(TOK_MEASUREMENT, $4); }
    ;

measurement_items: %empty                  { $$ = nullptr; }
    | measurement_items measurement_item   { $$ = append($1, $2); }
    ;

measurement_item: MEASUREMENTNAME QUOTED_STRING
        { $$ = new_node(TOK_MEASUREMENTNAME, unquote($2)); }
    | GRANULARITY H24       { $$ = new_node(TOK_GRANULARITY, TOK_H24, QString(), QString(), nullptr); }
    | GRANULARITY MIN15     { $$ = new_node(TOK_GRANULARITY, TOK_MIN15, QString(), QString(), nullptr); }
    | GRANULARITY EVENT     { $$ = new_node(TOK_GRANULARITY, TOK_EVENT, QString(), QString(), nullptr); }
    | MATCH '{' match_items '}'     { $$ = new_node(TOK_MATCH, $3); }
    | COLUMNS '{' column_items '}'  { $$ = new_node(TOK_COLUMNS, $3); }
    ;

match_items: %empty                        { $$ = nullptr; }
    | match_items match_item               { $$ = append($1, $2); }
    ;

match_item: NEEDS pointer_path             { $$ = new_node(TOK_NEEDS, $2); }
    | AND NEEDS pointer_path               { $$ = new_node(TOK_NEEDS, $3); }
    | VOID                                 { $$ = new_node(TOK_VOID); }
    ;

pointer_path: %empty                       { $$ = nullptr; }
    | pointer_elem                         { $$ = $1; }
    | pointer_path POINTER pointer_elem    { $$ = append($1, $3); }
    ;

pointer_elem: QUOTED_STRING                { $$ = new_node(TOK_POINTER, unquote($1)); }
    ;

column_items: %empty                       { $$ = nullptr; }
    | column_items column_item             { $$ = append($1, $2); }
    | column_items column_item AT_END      { $2->at_end = true; $$ = append($1, $2); }
    ;

column_item: UTC_FILESTAMP QUOTED_STRING
        { $$ = new_node(TOK_UTC_FILESTAMP, unquote($2)); }
    | ATTRIBUTE_CONVERT MS_TO_UTC '(' pointer_path ')' QUOTED_STRING
        { $$ = new_node(TOK_ATTRIBUTE_CONVERT, TOK_MS_TO_UTC, unquote($6), QString(), $4); }
    | ATTRIBUTE_CONVERT MS_TO_LOCAL '(' pointer_path ')' QUOTED_STRING
        { $$ = new_node(TOK_ATTRIBUTE_CONVERT, TOK_MS_TO_LOCAL, unquote($6), QString(), $4); }
    | ATTRIBUTE_CONVERT STRING_TO_LOCAL '(' pointer_path ',' QUOTED_STRING ')' QUOTED_STRING
        { $$ = new_node(TOK_ATTRIBUTE_CONVERT, TOK_STRING_TO_LOCAL, unquote($8), unquote($6), $4); }
    | ATTRIBUTE_CONVERT STRING_TO_UTC '(' pointer_path ',' QUOTED_STRING ')' QUOTED_STRING
        { $$ = new_node(TOK_ATTRIBUTE_CONVERT, TOK_STRING_TO_UTC, unquote($8), unquote($6), $4); }
    | ATTRIBUTE '(' pointer_path ')' QUOTED_STRING
        { $$ = new_node(TOK_ATTRIBUTE, unquote($5), $3); }
    | ATTRIBUTE_BOOL '(' pointer_path ',' QUOTED_STRING ')' QUOTED_STRING
        { $$ = new_node(TOK_ATTRIBUTE_BOOL, 0, unquote($7), unquote($5), $3); }
    | ATTRIBUTE_REGEXP '(' pointer_path ',' QUOTED_STRING ')' QUOTED_STRING
        { $$ = new_node(TOK_ATTRIBUTE_REGEXP, 0, unquote($7), unquote($5), $3); }
    | ATTRIBUTE_ARG '(' pointer_path ',' QUOTED_STRING ')' QUOTED_STRING
        { $$ = new_node(TOK_ATTRIBUTE_ARG, 0, unquote($7), unquote($5), $3); }
    | LISTATTRIBUTE '(' pointer_path ')' QUOTED_STRING
        { $$ = new_node(TOK_LISTATTRIBUTE, unquote($5), $3); }
    | LISTINDEX QUOTED_STRING
        { $$ = new_node(TOK_LISTINDEX, unquote($2)); }
    // The entry path's nodes, then a LOOKUP node that holds the look-up path.
    | MAPATTRIBUTE '(' pointer_path ',' QUOTED_STRING ')' '(' pointer_path ',' QUOTED_STRING ')' QUOTED_STRING
        { $$ = new_node(TOK_MAPATTRIBUTE, 0, unquote($12), unquote($5),
                        append($3, new_node(TOK_LOOKUP, 0, QString(), unquote($10), $8))); }
    ;

%%

void global_error(const char *message)
{
    elog.log(QString::asprintf("%s in line %i\n", message, GL_param.line_number));
}

/// A symbol as it stands in a configuration: keywords and characters without quotes.
static QString written(yysymbol_kind_t kind)
{
    QString name = QString::fromLatin1(yysymbol_name(kind));
    if (name.size() > 2 && (name.startsWith('"') || name.startsWith('\'')))
        name = name.mid(1, name.size() - 2);
    return name;
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

/// The keyword closest to word, ignoring case, if it is at most two edits away.
static QString closest_keyword(const QString &word)
{
    static const QRegularExpression keyword(QStringLiteral("^[A-Z0-9_]{2,}$"));
    QString best;
    int best_distance = 3;
    for (int k = 0; k < YYNTOKENS; ++k) {
        const QString name = written(yysymbol_kind_t(k));
        if (k == YYSYMBOL_IDENTIFIER || !keyword.match(name).hasMatch())
            continue;
        const int distance = edit_distance(word.toUpper(), name);
        if (distance < best_distance) {
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
static int yyreport_syntax_error(const yypcontext_t *context)
{
    global_error("syntax error");
    const yysymbol_kind_t found = yypcontext_token(context);
    QString text = QString::fromUtf8(global_text);
    const unsigned char first = static_cast<unsigned char>(global_text[0]);
    if (found == YYSYMBOL_YYEOF)
        text = "end of file";
    else if (first == 0)
        text = "NUL byte";
    else if (first >= 0x80 && global_text[1] == 0)
        text = QString::asprintf("byte 0x%02x", first);
    else if (text.size() > 40 || text.contains('\n'))
        text = text.left(40).section('\n', 0, 0) + "...";
    yysymbol_kind_t expected[YYNTOKENS];
    const int count = yypcontext_expected_tokens(context, expected, YYNTOKENS);
    QStringList names;
    for (int i = 0; i < count && i < 5; ++i)
        names << written(expected[i]);
    QString list = names.join(", ");
    if (count > 5)
        list += ", ...";
    else if (count > 1)
        list.replace(list.lastIndexOf(", "), 2, " or ");
    elog.log(QString("HINT: unexpected %1, expected %2\n").arg(text, count > 0 ? list : "nothing more"));
    if (found == YYSYMBOL_IDENTIFIER || found == YYSYMBOL_INTEGER) {
        const QString word = offending_word(text);
        const QString keyword = closest_keyword(word);
        if (!keyword.isEmpty() && keyword != word)
            elog.log(QString("HINT: did you mean %1?\n").arg(keyword));
    }
    return 0;
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

// Every column keyword of the grammar has its row in the table of kinds, and every row's
// token is a column keyword of the grammar.
constexpr int GRAMMAR_COLUMN_TOKENS[] = {TOK_ATTRIBUTE, TOK_ATTRIBUTE_BOOL, TOK_ATTRIBUTE_CONVERT,
    TOK_ATTRIBUTE_REGEXP, TOK_UTC_FILESTAMP, TOK_ATTRIBUTE_ARG, TOK_LISTATTRIBUTE, TOK_LISTINDEX, TOK_MAPATTRIBUTE};
constexpr bool kinds_match_grammar()
{
    for (int token : GRAMMAR_COLUMN_TOKENS) {
        if (!is_kind_token(token))
            return false;
    }
    for (const COLUMN_KIND &kind : COLUMN_KINDS) {
        bool found = false;
        for (int token : GRAMMAR_COLUMN_TOKENS)
            found = found || token == kind.token;
        if (!found)
            return false;
    }
    return true;
}
static_assert(kinds_match_grammar(), "the table of column kinds and the grammar's column keywords differ");
