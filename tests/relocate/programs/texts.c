/* The texts apply --relocate moves, each reached the way programs reach their
   texts. Every line is "label=text": ANSI texts as their bytes, UTF-16 texts
   (and ANSI texts converted through the code page) as the hex of their
   UTF-16LE units, so that the test compares them exactly. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

void say(const char* label, const char* text);
void say_from_another_file(void);

void __attribute__((noinline)) say(const char* label, const char* text)
{
    printf("%s=%s\n", label, text);
}

static void __attribute__((noinline)) say_units(const char* label, const wchar_t* text, int cUnits)
{
    printf("%s=", label);
    for (int i = 0; i < cUnits; ++i)
        printf("%02x%02x", text[i] & 0xFF, (text[i] >> 8) & 0xFF);
    printf("\n");
}

static void __attribute__((noinline)) say_wide(const char* label, const wchar_t* text)
{
    say_units(label, text, (int)wcslen(text));
}

/* What a program on a Chinese system shows of an ANSI text. */
static void __attribute__((noinline)) say_through_code_page(const char* label, const char* text)
{
    wchar_t units[256];
    int cUnits = MultiByteToWideChar(CP_ACP, 0, text, -1, units, 256);
    say_units(label, units, cUnits > 0 ? cUnits - 1 : 0);
}

/* A Delphi string literal is used through a pointer to its characters; the
   length is the word in front of them. */
static int LengthBefore(const void* text)
{
    int len;
    memcpy(&len, (const char*)text - 4, sizeof(len));
    return len;
}

/* Not static, so that the compiler keeps the tables instead of folding them. */
const char* table[] = {"First entry of the table", "Second entry of the table", "Third entry of the table"};

/* Pointers past the start: a rule moves the tail of the first, none the
   tail of the second. */
static const char whole[] = "Leading Trailing words";
static const char past[] = "Pointer past its start";

static const struct
{
    int refcnt, len;
    char s[32];
} delphi = {-1, 24, "Delphi style literal one"}, delphi_longer = {-1, 30, "Delphi literal, longer than EN"};
const char* delphi_text = delphi.s;
const char* delphi_longer_text = delphi_longer.s;

static const struct
{
    unsigned short codePage, elementSize;
    int refcnt, len;
    wchar_t s[32];
} delphi_wide = {1200, 2, -1, 20, L"Wide Delphi literal!"};
const wchar_t* delphi_wide_text = delphi_wide.s;

/* Its address at an odd place of the data, where only a base relocation says
   it is a pointer. */
#pragma pack(push, 1)
struct PackedRef
{
    char tag;
    const char* text;
};
#pragma pack(pop)
struct PackedRef packed = {'p', "Held at an unaligned place"};

/* Stored by an instruction that names two addresses, the variable's and the
   text's (mov [current], imm32 in 32-bit code). */
const char* volatile current;

static char buffer[64] = "Writable buffer text";

/* Out of line: an inlined strcat would address the buffer's end as a
   displacement from somewhere inside the text. */
static void __attribute__((noipa)) append(char* to, const char* text)
{
    strcat(to, text);
}

/* A buffer far larger than its text, which the program fills. */
static char large[1024] = "Large writable buffer";

static void __attribute__((noipa)) fill(char* to, size_t cb)
{
    size_t n = strlen(to);
    memset(to + n, 'x', cb);
    to[n + cb] = 0;
}

int main(void)
{
    say("call", "Text passed to a function");
    for (int i = 0; i < 3; ++i)
        say("table", table[i]);
    say("twice", "Literal used twice");
    say("whole", whole);
    say("tail", whole + 8);
    say("past", past);
    say("past_tail", past + 8);
    say_through_code_page("acp", "Shown through the code page");
    say_wide("wide", L"Wide text for the console");
    printf("delphi=%.*s\n", LengthBefore(delphi_text), delphi_text);
    printf("delphi_longer=%.*s\n", LengthBefore(delphi_longer_text), delphi_longer_text);
    say_units("delphi_wide", delphi_wide_text, LengthBefore(delphi_wide_text));
    say("packed", packed.text);
    current = "Stored by an instruction";
    say("stored", current);
    append(buffer, " grown");
    say("buffer", buffer);
    int cbText = (int)strlen(large);
    fill(large, 900);
    printf("large=%.*s +%u\n", cbText, large, (unsigned)(strlen(large) - cbText));
    say("repeated", "Repeated in two files");
    say_from_another_file();
    say("twice", "Literal used twice");
    return 0;
}
