// The incremental update that makes a saved report a signed one.
//
// What the update promises, kept in this one place:
//   1. Every byte of the saved file stays where it was: the update is only appended.
//   2. It adds a signature dictionary (/Type /Sig, /Filter /Adobe.PPKLite, /SubFilter
//      /ETSI.CAdES.detached, /ByteRange, /Contents, /M, /Reason) and an invisible signature
//      field on page 1 (a widget of no size, printed and locked, with no appearance), rewrites
//      the catalog with an /AcroForm that lists the field (/SigFlags 3) and page 1 with an
//      /Annots that holds it, and closes with its own cross-reference section and a trailer
//      whose /Prev names the saved file's.
//   3. /ByteRange covers the whole updated file except the hex string of /Contents; its numbers
//      are written in place once the layout is known, so the file's length never changes.
//   4. Only files of the form the report library writes are taken: a classic cross-reference
//      table, uncompressed catalog and page dictionaries, no encryption, no form or annotation
//      of their own. Anything else is refused with a reason, the file unchanged.
#pragma once

#include <cstddef>
#include <string>

struct signature_fields_s {
    std::u16string reason;     // who signed in which role, as the pages show it
    std::string signing_time;  // a PDF date, "D:YYYYMMDDHHmmSS+HH'mm'"
    size_t capacity = 0;       // bytes of DER signature /Contents can hold
};

// Where the signature value goes and what it covers, in the updated file.
struct signature_slot_s {
    size_t contents_at = 0;  // first hex digit of /Contents
    size_t capacity = 0;     // bytes of DER the hex digits hold (two digits a byte)
    size_t ranges[4] = {};   // /ByteRange: offset and length of the two signed parts
};

// Appends the update to `pdf`, /Contents all zeros. False with `error` set, `pdf` unchanged,
// when the file is not of the form above.
bool append_signature_update(std::string& pdf, const signature_fields_s& fields,
                             signature_slot_s& slot, std::string& error);

// Writes the DER signature `der` into the slot as hex (the rest stays zeros). False with `error`
// set, `pdf` unchanged, when it does not fit.
bool fill_signature(std::string& pdf, const signature_slot_s& slot, const std::string& der,
                    std::string& error);

// `text` as a PDF text string: a literal string when it is printable ASCII, otherwise UTF-16BE
// with its byte order mark, in hex.
std::string pdf_text_string(const std::u16string& text);
