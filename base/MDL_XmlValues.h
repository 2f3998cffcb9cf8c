// Value encodings of scene XML files: number lists, booleans, and the hex
// encodings of byte, real and index arrays. Number parsing does not depend
// on the C locale.
#pragma once

#include <cstddef>
#include <cstdint>

class TiXmlElement;

// Text content of an element (its first child node when that is text), or null.
const char* MDL_iElementText(const TiXmlElement* element);
// Length of that text as the document keeps it (0 without one), found
// without a pass over it. A character reference to code 0 leaves a zero
// byte inside, so this is an upper bound of what the readers, which stop at
// the first zero byte, can take from it.
size_t MDL_iElementTextLength(const TiXmlElement* element);
// Where the element's text `text` (from MDL_iElementText) ends, known from
// the parsed document without a pass over the text; null for no text.
const char* MDL_iElementTextEnd(const TiXmlElement* element, const char* text);

// Reads up to n reals from a list separated by spaces, commas, tabs, CR or
// LF; a token that is no number gives 0. Returns how many were read.
int MDL_iParseNumbers(const char* text, double* target, int n);
// Reads the first token as a decimal integer; returns 1 when there was a token.
int MDL_iParseInteger(const char* text, int32_t* target);

// First child element of that name read as n numbers; true when exactly n
// were read (those read are stored either way), false without the element.
bool MDL_iGetChildNumbers(const TiXmlElement* element, const char* name, double* target, int n);
// First child element of that name read as an integer flag (value != 0);
// without the element or a token the flag is left as it is.
bool MDL_iGetChildBool(const TiXmlElement* element, const char* name, uint8_t* target);


// Lowercase hex pairs into bytes; other characters are skipped. Stops after
// count bytes or at the end of the text. *decoded (optional) gets the bytes
// written. Returns the position after the last character used. `end`
// (optional) is the end of the text's storage when the caller knows it, so
// that the text need not be measured as it is decoded; the text still ends
// at its first NUL.
const char* MDL_iDecodeHex(const char* text, size_t count, uint8_t* target, size_t* decoded = nullptr,
                           const char* end = nullptr);
// The widest steps hex decoding may take (the default: the widest the
// processor has, AVX2 and AVX-512 chosen at run time); the same results
// either way. Answers the steps in use before; the steps taken are the
// narrower of `widest` and what the processor has. Tests use it to run every
// path.
enum { MDL_HEX_PLAIN = 0, MDL_HEX_AVX2 = 1, MDL_HEX_AVX512 = 2 };
int MDL_iHexSteps(int widest);

// Reals of 8 (double) or 4 (float) little-endian bytes; other sizes read
// nothing. *decoded (optional) gets the values written.
const char* MDL_iDecodeDoubles(const char* text, int elementSize, size_t count, double* target,
                               size_t* decoded = nullptr, const char* end = nullptr);
// Indices of 4 or 2 little-endian bytes (0xFFFF with size 2 becomes
// 0xFFFFFFFF); other sizes read nothing.
const char* MDL_iDecodeIndices(const char* text, int elementSize, size_t count, uint32_t* target,
                               size_t* decoded = nullptr, const char* end = nullptr);

// Deepest element nesting the XML readers accept. The parser recurses once
// per level, so a document nested far deeper would run the stack out; no
// scene or configuration file comes near this.
enum { MDL_XML_DEPTH_LIMIT = 256 };

// Cheap pass over a NUL-terminated XML text, before it is parsed: true when
// no element is nested deeper than limit levels. It follows the parser's own
// reading of tags, comments, CDATA sections, declarations and other "<!" or
// "<?" constructs, and of quoted attribute values, so that no text the
// parser would read as elements is skipped here.
bool MDL_iXmlDepthWithin(const char* text, int limit = MDL_XML_DEPTH_LIMIT);
