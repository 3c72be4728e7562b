/*
 * The formula grammar: an LALR(1) parser over the lexer's tokens that writes
 * formula code while it recognises the text.  Every rule appends its bytes
 * when it is reduced, so operands come out before their operator and the
 * arguments of a call before the function: reverse Polish order in a single
 * pass, without a tree.
 *
 * Built with Bison's yacc.c skeleton: default reductions run before a token
 * that cannot follow is reported (so "@ABS!" fails on the argument count,
 * not on the bad character), and the parser stack has a fixed depth (no
 * growth, no allocation).  Failures leave through the compiler's abort point
 * (encoder.h); a wrong argument count makes the parser return 1.
 */

%code requires {
#include "formula/lexer.h"
}

%code top {
#include "formula/code_tables.h"
#include "formula/encoder.h"
#include "formula/lexer.h"
#include "wks.h"
}

%code {
using namespace wks::formula;

namespace {

// The stack depth that makes 147 nested parentheses around a number and a
// chain of 74 powers fit, and one more of either overflow (code 14).
constexpr int kParserStackDepth = 151;
// A count byte holds at most this many arguments; a saturated count stays
// above it.
constexpr uint16_t kMaxCountByte = 255;

// Reading a token copies the lexer's value where the parser expects it.
int formula_yylex() {
    int token = next_token();
    formula_yylval = token_value();
    return token;
}

// Syntax errors and a full stack: the message is not shown.
void formula_yyerror(const char *) { abort_compilation(WKS_E_SYNTAX); }

void emit_words(const uint16_t *words, int n) {
    for (int i = 0; i < n; ++i) emit_word(words[i]);
}

void emit_string(char *text) {
    emit_text(text);
    release_string();
}

// The function's opcode and, for a variable count, the count byte.  False
// (pending code 17) when the arguments do not fit the function.
bool emit_call(CallValue call) {
    emit_byte(static_cast<uint8_t>(call.opcode & 0xFF));
    if (call.declared == kVariableArgs) {
        if (call.actual > kMaxCountByte) {
            set_pending_error(WKS_E_ARGUMENT_COUNT);
            return false;
        }
        emit_byte(static_cast<uint8_t>(call.actual));
        return true;
    }
    if (call.actual != call.declared) {
        set_pending_error(WKS_E_ARGUMENT_COUNT);
        return false;
    }
    return true;
}

// One more argument; the count stops just above what a count byte holds.
uint16_t count_argument(uint16_t count) {
    return count > kMaxCountByte ? count : static_cast<uint16_t>(count + 1);
}

}  // namespace

#define YYINITDEPTH kParserStackDepth
#define YYMAXDEPTH kParserStackDepth
}

%define api.prefix {formula_yy}
%define api.token.prefix {TOK_}
%define api.value.type {wks::formula::Value}
%expect 0

/* The one list of tokens: the lexer includes the header generated from it
   (TOK_AND ...).  The numbers are those yylex has always returned. */
%token AND 257 OR 258 NOT 259
%token EQ 260 NE 261 LE 262 GE 263 GT 264 LT 265
%token PLUS 266 MINUS 267 CONCAT 268 TIMES 269 DIVIDE 270
%token SIGN 271              /* precedence of prefix + and -; never read */
%token POWER 273
%token <integer> INTEGER 274
%token <real> REAL 275
%token <string> STRING 276
%token <words> RANGE 277 CELL 278
%token <call> FUNCTION 279
%token LPAREN 280 RPAREN 281 COMMA 282
%token LEXERROR 254          /* a lexical failure; no rule accepts it */

%type <call> call
%type <count> args

/* From the loosest binding to the tightest. */
%left AND OR
%precedence NOT
%nonassoc EQ NE LE GE LT GT
%left PLUS MINUS CONCAT
%left TIMES DIVIDE
%precedence SIGN
%right POWER

%start formula

%%

formula : expr                          { emit_byte(kEnd); }
        | %empty                        { emit_byte(kEnd); }
        ;

expr    : MINUS expr %prec SIGN         { emit_byte(kNegate); }
        | expr PLUS expr                { emit_byte(kAdd); }
        | expr MINUS expr               { emit_byte(kSubtract); }
        | expr TIMES expr               { emit_byte(kMultiply); }
        | expr DIVIDE expr              { emit_byte(kDivide); }
        | expr POWER expr               { emit_byte(kPower); }
        | expr EQ expr                  { emit_byte(kEqual); }
        | expr NE expr                  { emit_byte(kNotEqual); }
        | expr LE expr                  { emit_byte(kLessEqual); }
        | expr GE expr                  { emit_byte(kGreaterEqual); }
        | expr LT expr                  { emit_byte(kLess); }
        | expr GT expr                  { emit_byte(kGreater); }
        | expr AND expr                 { emit_byte(kAnd); }
        | expr OR expr                  { emit_byte(kOr); }
        | NOT expr                      { emit_byte(kNot); }
        | PLUS expr %prec SIGN          { emit_byte(kUnaryPlus); }
        | expr CONCAT expr              { emit_byte(kConcat); }
        | LPAREN expr RPAREN            { emit_byte(kParens); }
        | INTEGER                       { emit_byte(kInteger); emit_word(static_cast<uint16_t>($1)); }
        | REAL                          { emit_byte(kReal); emit_real($1); }
        | RANGE                         { emit_byte(kRange); emit_words($1, 4); }
        | CELL                          { emit_byte(kCell); emit_words($1, 2); }
        | STRING                        { emit_byte(kString); emit_string($1); }
        | call                          { if (!emit_call($1)) YYABORT; }
        ;

call    : FUNCTION                      { $$ = $1; $$.actual = 0; }
        | FUNCTION LPAREN RPAREN        { $$ = $1; $$.actual = 0; }
        | FUNCTION LPAREN args RPAREN   { $$ = $1; $$.actual = $3; }
        ;

args    : args COMMA expr               { $$ = count_argument($1); }
        | expr                          { $$ = 1; }
        ;

%%

int wks::formula::parse() { return formula_yyparse(); }
