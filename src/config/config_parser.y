%{
#include "attribute.h"
#include "gl_param.h"
#include "global_parser.h"
#include "parse_configuration.h"
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
%token STAMP 306 MATCHING 307 OR 308 ISO8601_TO_UTC 309 ISO8601_TO_LOCAL 310 DROP 311

%type <node> inputfile_list inputfile measurement_list measurement measurement_items
%type <node> measurement_item match_items match_item pointer_path pointer_elem
%type <node> column_items column_item stamp stamp_sources stamp_source alternatives attribute_alternatives
%type <node> iso_source iso_alternatives

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
inputfile: INPUTFILE QUOTED_STRING { $<number>$ = GL_param.line_number; } '{' stamp measurement_list '}'
    { $$ = new_node(TOK_INPUTFILE, unquote($2), $5 ? append($5, $6) : $6); $$->line = $<number>3; }
    ;

// Where a file's time stamp comes from, the first child of its INPUTFILE: the first of
// the attributes found, or a pattern over the file's name.
stamp: %empty                              { $$ = nullptr; }
    | STAMP stamp_sources                  { $$ = new_node(TOK_STAMP, $2); }
    | STAMP MATCHING QUOTED_STRING         { $$ = new_node(TOK_STAMP, TOK_MATCHING, QString(), unquote($3), nullptr); }
    ;

stamp_sources: stamp_source                { $$ = $1; }
    | stamp_sources OR stamp_source        { $$ = append($1, $3); }
    ;

stamp_source: '(' pointer_path ',' QUOTED_STRING ')'
    { $$ = new_node(TOK_OR, 0, QString(), unquote($4), $2); }
    ;

// Further paths of a column, each an OR node after the column's own POINTER nodes.
alternatives: %empty                       { $$ = nullptr; }
    | alternatives OR '(' pointer_path ')' { $$ = append($1, new_node(TOK_OR, $4)); }
    ;

attribute_alternatives: %empty             { $$ = nullptr; }
    | attribute_alternatives OR '(' pointer_path ',' QUOTED_STRING ')'
        { $$ = append($1, new_node(TOK_OR, 0, QString(), unquote($6), $4)); }
    ;

// An ISO 8601 time from the element's text, or from one of its attributes.
iso_source: '(' pointer_path ')'           { $$ = new_node(TOK_OR, $2); }
    | '(' pointer_path ',' QUOTED_STRING ')' { $$ = new_node(TOK_OR, 0, QString(), unquote($4), $2); }
    ;

iso_alternatives: iso_source               { $$ = $1; }
    | iso_alternatives OR iso_source       { $$ = append($1, $3); }
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
    // Records whose value of the column matches (KEEP), or does not (DROP), are written.
    | KEEP QUOTED_STRING MATCHING QUOTED_STRING { $$ = new_node(TOK_KEEP, 0, unquote($2), unquote($4), nullptr); }
    | DROP QUOTED_STRING MATCHING QUOTED_STRING { $$ = new_node(TOK_DROP, 0, unquote($2), unquote($4), nullptr); }
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
    | ATTRIBUTE_CONVERT MS_TO_UTC '(' pointer_path ')' alternatives QUOTED_STRING
        { $$ = new_node(TOK_ATTRIBUTE_CONVERT, TOK_MS_TO_UTC, unquote($7), QString(), append($4, $6)); }
    | ATTRIBUTE_CONVERT MS_TO_LOCAL '(' pointer_path ')' alternatives QUOTED_STRING
        { $$ = new_node(TOK_ATTRIBUTE_CONVERT, TOK_MS_TO_LOCAL, unquote($7), QString(), append($4, $6)); }
    | ATTRIBUTE_CONVERT STRING_TO_LOCAL '(' pointer_path ',' QUOTED_STRING ')' attribute_alternatives QUOTED_STRING
        { $$ = new_node(TOK_ATTRIBUTE_CONVERT, TOK_STRING_TO_LOCAL, unquote($9), unquote($6), append($4, $8)); }
    | ATTRIBUTE_CONVERT STRING_TO_UTC '(' pointer_path ',' QUOTED_STRING ')' attribute_alternatives QUOTED_STRING
        { $$ = new_node(TOK_ATTRIBUTE_CONVERT, TOK_STRING_TO_UTC, unquote($9), unquote($6), append($4, $8)); }
    // The first source's path and attribute are the column's own; the others follow as OR nodes.
    | ATTRIBUTE_CONVERT ISO8601_TO_UTC iso_alternatives QUOTED_STRING
        { $$ = iso_column(TOK_ISO8601_TO_UTC, unquote($4), $3); }
    | ATTRIBUTE_CONVERT ISO8601_TO_LOCAL iso_alternatives QUOTED_STRING
        { $$ = iso_column(TOK_ISO8601_TO_LOCAL, unquote($4), $3); }
    | ATTRIBUTE '(' pointer_path ')' alternatives QUOTED_STRING
        { $$ = new_node(TOK_ATTRIBUTE, unquote($6), append($3, $5)); }
    | ATTRIBUTE_BOOL '(' pointer_path ',' QUOTED_STRING ')' QUOTED_STRING
        { $$ = new_node(TOK_ATTRIBUTE_BOOL, 0, unquote($7), unquote($5), $3); }
    | ATTRIBUTE_REGEXP '(' pointer_path ',' QUOTED_STRING ')' QUOTED_STRING
        { $$ = new_node(TOK_ATTRIBUTE_REGEXP, 0, unquote($7), unquote($5), $3); }
    | ATTRIBUTE_ARG '(' pointer_path ',' QUOTED_STRING ')' attribute_alternatives QUOTED_STRING
        { $$ = new_node(TOK_ATTRIBUTE_ARG, 0, unquote($8), unquote($5), append($3, $7)); }
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

/// A symbol as it stands in a configuration: keywords and characters without quotes.
static QString written(yysymbol_kind_t kind)
{
    QString name = QString::fromLatin1(yysymbol_name(kind));
    if (name.size() > 2 && (name.startsWith('"') || name.startsWith('\'')))
        name = name.mid(1, name.size() - 2);
    return name;
}

// Only the parser's tables are read here; the messages are made from what they say.
static int yyreport_syntax_error(const yypcontext_t *context)
{
    const yysymbol_kind_t found = yypcontext_token(context);
    SYNTAX_ERROR error;
    error.text = global_text;
    error.at_end = found == YYSYMBOL_YYEOF;
    error.word = found == YYSYMBOL_IDENTIFIER || found == YYSYMBOL_INTEGER;
    yysymbol_kind_t expected[YYNTOKENS];
    const int count = yypcontext_expected_tokens(context, expected, YYNTOKENS);
    for (int i = 0; i < count; ++i)
        error.expected << written(expected[i]);
    for (int k = 0; k < YYNTOKENS; ++k) {
        if (k != YYSYMBOL_IDENTIFIER)
            error.terminals << written(yysymbol_kind_t(k));
    }
    report_syntax_error(error);
    return 0;
}
