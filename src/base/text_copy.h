// Copying text into the program's fixed-size buffers: a value that does not
// fit is cut, the buffer is always terminated, never written past. Where
// the program's texts are UTF-8 a cut never splits a character.
#pragma once

// Whether the program's texts are UTF-8: so on systems that let a program
// choose UTF-8 as its code page (start-up decides, before any other
// thread runs). Off, every byte counts as a character and cuts fall where
// the buffer ends, as on systems with a legacy code page.
void SetTextsUtf8(bool on);
bool TextsUtf8();

// How many of the `length` bytes of `kept` a cut keeps when `next` is the
// first byte cut off (0 when nothing is): `length`, or fewer so that the
// character `next` belongs to goes whole.
int CharacterCut(const char* kept, int length, unsigned char next);
// Drops a character that a system call cut short at the end of `text`.
void TrimCutCharacter(char* text);
// Cuts `text` after at most `count` characters; true when it was cut.
bool LimitCharacters(char* text, int count);

// Copies at most size - 1 characters of `text` (null counts as empty) and a
// terminator; true when the whole text fitted.
bool CopyTruncated(char* out, int size, const char* text);
// Appends `text` to the terminated text in `out`, cut to fit `size`.
void AppendTruncated(char* out, int size, const char* text);
