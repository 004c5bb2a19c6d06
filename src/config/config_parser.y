%{
#include "attribute.h"
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
%expect 0

%union {
    char *text;
    int number;
    class ATTRIBUTE *node;
}

%token <text> QUOTED_STRING 258
%token <text> IDENTIFIER 259
%token <number> INTEGER 260
%token GLOBALS 261 VERSION 262 FILE_MASK 263 TIME_FORMAT 264 COLUMN_SEPARATOR 265
%token HEADER_SIZE_MAX 266 INPUTFILE 267 GENERATES 268 MEASUREMENT 269
%token MEASUREMENTNAME 270 GRANULARITY 271 H24 272 MIN15 273 EVENT 274 MATCH 275
%token AND 276 NEEDS 277 VOID 278 POINTER 279 COLUMNS 280 ATTRIBUTE 281
%token ATTRIBUTE_BOOL 282 ATTRIBUTE_CONVERT 283 ATTRIBUTE_REGEXP 284 UTC_FILESTAMP 285
%token MS_TO_UTC 286 MS_TO_LOCAL 287 STRING_TO_LOCAL 288 STRING_TO_UTC 289
%token ATTRIBUTE_ARG 290

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
    | COLUMN_SEPARATOR QUOTED_STRING       { GL_param.column_separator = unquote($2); }
    | HEADER_SIZE_MAX INTEGER              { GL_param.max_header_size = $2; }
    ;

inputfile_list: %empty                     { $$ = nullptr; }
    | inputfile_list inputfile             { $$ = append($1, $2); }
    ;

inputfile: INPUTFILE QUOTED_STRING '{' measurement_list '}'
    { $$ = new_node(tok::INPUTFILE, unquote($2), $4); }
    ;

measurement_list: %empty                   { $$ = nullptr; }
    | measurement_list measurement         { $$ = append($1, $2); }
    ;

measurement: GENERATES MEASUREMENT '{' measurement_items '}'
    { $$ = new_node(tok::MEASUREMENT, $4); }
    ;

measurement_items: %empty                  { $$ = nullptr; }
    | measurement_items measurement_item   { $$ = append($1, $2); }
    ;

measurement_item: MEASUREMENTNAME QUOTED_STRING
        { $$ = new_node(tok::MEASUREMENTNAME, unquote($2)); }
    | GRANULARITY H24       { $$ = new_node(tok::GRANULARITY, tok::H24, QString(), QString(), nullptr); }
    | GRANULARITY MIN15     { $$ = new_node(tok::GRANULARITY, tok::MIN15, QString(), QString(), nullptr); }
    | GRANULARITY EVENT     { $$ = new_node(tok::GRANULARITY, tok::EVENT, QString(), QString(), nullptr); }
    | MATCH '{' match_items '}'     { $$ = new_node(tok::MATCH, $3); }
    | COLUMNS '{' column_items '}'  { $$ = new_node(tok::COLUMNS, $3); }
    ;

match_items: %empty                        { $$ = nullptr; }
    | match_items match_item               { $$ = append($1, $2); }
    ;

match_item: NEEDS pointer_path             { $$ = new_node(tok::NEEDS, $2); }
    | AND NEEDS pointer_path               { $$ = new_node(tok::NEEDS, $3); }
    | VOID                                 { $$ = new_node(tok::VOID); }
    ;

pointer_path: %empty                       { $$ = nullptr; }
    | pointer_elem                         { $$ = $1; }
    | pointer_path POINTER pointer_elem    { $$ = append($1, $3); }
    ;

pointer_elem: QUOTED_STRING                { $$ = new_node(tok::POINTER, unquote($1)); }
    ;

column_items: %empty                       { $$ = nullptr; }
    | column_items column_item             { $$ = append($1, $2); }
    ;

column_item: UTC_FILESTAMP QUOTED_STRING
        { $$ = new_node(tok::UTC_FILESTAMP, unquote($2)); }
    | ATTRIBUTE_CONVERT MS_TO_UTC '(' pointer_path ')' QUOTED_STRING
        { $$ = new_node(tok::ATTRIBUTE_CONVERT, tok::MS_TO_UTC, unquote($6), QString(), $4); }
    | ATTRIBUTE_CONVERT MS_TO_LOCAL '(' pointer_path ')' QUOTED_STRING
        { $$ = new_node(tok::ATTRIBUTE_CONVERT, tok::MS_TO_LOCAL, unquote($6), QString(), $4); }
    | ATTRIBUTE_CONVERT STRING_TO_LOCAL '(' pointer_path ',' QUOTED_STRING ')' QUOTED_STRING
        { $$ = new_node(tok::ATTRIBUTE_CONVERT, tok::STRING_TO_LOCAL, unquote($8), unquote($6), $4); }
    | ATTRIBUTE_CONVERT STRING_TO_UTC '(' pointer_path ',' QUOTED_STRING ')' QUOTED_STRING
        { $$ = new_node(tok::ATTRIBUTE_CONVERT, tok::STRING_TO_UTC, unquote($8), unquote($6), $4); }
    | ATTRIBUTE '(' pointer_path ')' QUOTED_STRING
        { $$ = new_node(tok::ATTRIBUTE, unquote($5), $3); }
    | ATTRIBUTE_BOOL '(' pointer_path ',' QUOTED_STRING ')' QUOTED_STRING
        { $$ = new_node(tok::ATTRIBUTE_BOOL, 0, unquote($7), unquote($5), $3); }
    | ATTRIBUTE_REGEXP '(' pointer_path ',' QUOTED_STRING ')' QUOTED_STRING
        { $$ = new_node(tok::ATTRIBUTE_REGEXP, 0, unquote($7), unquote($5), $3); }
    | ATTRIBUTE_ARG '(' pointer_path ',' QUOTED_STRING ')' QUOTED_STRING
        { $$ = new_node(tok::ATTRIBUTE_ARG, 0, unquote($7), unquote($5), $3); }
    ;

%%

void global_error(const char *message)
{
    elog.log(QString::asprintf("%s in line %i\n", message, GL_param.line_number));
}

int parse_configuration(FILE *input)
{
    global_restart(input);
    GL_param.line_number = 1;
    return global_parse();
}

// The tree carries the codes of type_codes.h; they must be the parser's own.
#define SAME_CODE(name) static_assert(int(tok::name) == int(TOK_##name), "token code of " #name);
SAME_CODE(QUOTED_STRING) SAME_CODE(IDENTIFIER) SAME_CODE(INTEGER) SAME_CODE(GLOBALS)
SAME_CODE(VERSION) SAME_CODE(FILE_MASK) SAME_CODE(TIME_FORMAT) SAME_CODE(COLUMN_SEPARATOR)
SAME_CODE(HEADER_SIZE_MAX) SAME_CODE(INPUTFILE) SAME_CODE(GENERATES) SAME_CODE(MEASUREMENT)
SAME_CODE(MEASUREMENTNAME) SAME_CODE(GRANULARITY) SAME_CODE(H24) SAME_CODE(MIN15) SAME_CODE(EVENT)
SAME_CODE(MATCH) SAME_CODE(AND) SAME_CODE(NEEDS) SAME_CODE(VOID) SAME_CODE(POINTER)
SAME_CODE(COLUMNS) SAME_CODE(ATTRIBUTE) SAME_CODE(ATTRIBUTE_BOOL) SAME_CODE(ATTRIBUTE_CONVERT)
SAME_CODE(ATTRIBUTE_REGEXP) SAME_CODE(UTC_FILESTAMP) SAME_CODE(MS_TO_UTC) SAME_CODE(MS_TO_LOCAL)
SAME_CODE(STRING_TO_LOCAL) SAME_CODE(STRING_TO_UTC) SAME_CODE(ATTRIBUTE_ARG)
