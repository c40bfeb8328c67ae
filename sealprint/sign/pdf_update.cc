#include "sign/pdf_update.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

namespace {

// The field's name, as signature panels list it.
const char* const kFieldName = "Approval";
// Print (4) and Locked (128): the field is part of the record and never edited.
const int kWidgetFlags = 132;
// Ten digits a number: room for any offset of a file that fits in memory here.
const char kPlaceholderRange[] = "[0 0000000000 0000000000 0000000000]";

bool is_white(char c) {
    return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0';
}

bool is_delimiter(char c) {
    return c != '\0' && std::strchr("()<>[]{}/%", c) != nullptr;
}

bool is_regular(char c) {
    return !is_white(c) && !is_delimiter(c);
}

struct entry_s {
    std::string key;  // without the slash
    std::string value;
};

// Reads the syntax of the saved file: just enough to find and copy the dictionaries the update
// rewrites. Every position is checked against the end; a failed read leaves `ok` false.
struct reader_s {
    const std::string& s;
    bool ok = true;

    void skip_white(size_t& p) const {
        while (p < s.size()) {
            if (is_white(s[p])) {
                ++p;
            } else if (s[p] == '%') {
                while (p < s.size() && s[p] != '\n' && s[p] != '\r')
                    ++p;
            } else {
                break;
            }
        }
    }

    // A run of regular characters (a number or a keyword) at p.
    std::string token(size_t& p) {
        skip_white(p);
        const size_t start = p;
        while (p < s.size() && is_regular(s[p]))
            ++p;
        if (p == start)
            ok = false;
        return s.substr(start, p - start);
    }

    bool number(size_t& p, size_t& value) {
        const std::string t = token(p);
        if (!ok || t.empty() || t.size() > 18 ||
            !std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            ok = false;
            return false;
        }
        value = std::stoull(t);
        return true;
    }

    bool keyword(size_t& p, const char* word) {
        const std::string t = token(p);
        if (t != word)
            ok = false;
        return ok;
    }

    // Skips one object (with an indirect reference "n g R" counting as one); p ends after it.
    void skip_object(size_t& p, int depth = 0) {
        skip_white(p);
        if (p >= s.size() || depth > 32) {
            ok = false;
            return;
        }
        const char c = s[p];
        if (c == '(') {
            skip_literal(p);
        } else if (c == '<' && p + 1 < s.size() && s[p + 1] == '<') {
            dictionary(p, nullptr, depth);
        } else if (c == '<') {
            const size_t end = s.find('>', p);
            if (end == std::string::npos) {
                ok = false;
                return;
            }
            p = end + 1;
        } else if (c == '[') {
            ++p;
            for (;;) {
                skip_white(p);
                if (p < s.size() && s[p] == ']') {
                    ++p;
                    return;
                }
                skip_object(p, depth + 1);
                if (!ok)
                    return;
            }
        } else if (c == '/') {
            ++p;
            while (p < s.size() && is_regular(s[p]))
                ++p;
        } else if (is_regular(c)) {
            token(p);
            // "n g R": the two numbers after this one and the R make one object.
            size_t q = p;
            size_t ignored = 0;
            reader_s look{s};
            if (look.number(q, ignored) && look.keyword(q, "R"))
                p = q;
        } else {
            ok = false;
        }
    }

    // The dictionary at p ("<<" there); its entries as written go to `entries`, if given.
    void dictionary(size_t& p, std::vector<entry_s>* entries, int depth = 0) {
        p += 2;
        for (;;) {
            skip_white(p);
            if (s.compare(p, 2, ">>") == 0) {
                p += 2;
                return;
            }
            if (p >= s.size() || s[p] != '/') {
                ok = false;
                return;
            }
            const size_t key = p + 1;
            skip_object(p, depth + 1);
            const size_t key_end = p;
            skip_white(p);
            const size_t value = p;
            skip_object(p, depth + 1);
            if (!ok)
                return;
            if (entries)
                entries->push_back({s.substr(key, key_end - key), s.substr(value, p - value)});
        }
    }

    void skip_literal(size_t& p) {
        int nesting = 0;
        for (; p < s.size(); ++p) {
            if (s[p] == '\\') {
                ++p;
            } else if (s[p] == '(') {
                ++nesting;
            } else if (s[p] == ')' && --nesting == 0) {
                ++p;
                return;
            }
        }
        ok = false;
    }
};

struct dict_s {
    size_t begin = 0, end = 0;  // "<<" to after ">>"
    std::vector<entry_s> entries;

    const std::string* find(const char* key) const {
        for (const entry_s& e : entries) {
            if (e.key == key)
                return &e.value;
        }
        return nullptr;
    }
};

bool read_dict(const std::string& s, size_t p, dict_s& dict) {
    reader_s r{s};
    r.skip_white(p);
    if (s.compare(p, 2, "<<") != 0)
        return false;
    dict.begin = p;
    r.dictionary(p, &dict.entries);
    dict.end = p;
    return r.ok;
}

// The object number of a reference "n g R"; 0 when `value` is not one.
size_t referenced(const std::string& value) {
    reader_s r{value};
    size_t p = 0, number = 0, generation = 0;
    if (!r.number(p, number) || !r.number(p, generation) || !r.keyword(p, "R"))
        return 0;
    r.skip_white(p);
    return p == value.size() ? number : 0;
}

// The saved file's last cross-reference section and trailer.
struct xref_s {
    size_t at = 0;                     // offset of "xref", the trailer's /Prev
    std::map<size_t, size_t> offsets;  // object number → offset of "n g obj"
    dict_s trailer;
};

bool read_xref(const std::string& s, xref_s& x, std::string& error) {
    const size_t start = s.rfind("startxref");
    if (start == std::string::npos || s.size() - start > 64) {
        error = "no startxref at its end";
        return false;
    }
    reader_s r{s};
    size_t p = start + 9;
    if (!r.number(p, x.at) || x.at >= s.size()) {
        error = "no cross-reference offset after startxref";
        return false;
    }
    p = x.at;
    if (!r.keyword(p, "xref")) {
        error = "no classic cross-reference table at the offset startxref gives";
        return false;
    }
    for (;;) {
        size_t q = p;
        reader_s look{s};
        if (look.token(q) == "trailer") {
            p = q;
            break;
        }
        size_t first = 0, count = 0;
        if (!r.number(p, first) || !r.number(p, count) || count > s.size() / 20) {
            error = "a cross-reference subsection that cannot be read";
            return false;
        }
        r.skip_white(p);
        for (size_t i = 0; i < count; ++i, p += 20) {
            size_t offset = 0, generation = 0;
            size_t q2 = p;
            if (p + 20 > s.size() || !r.number(q2, offset) || !r.number(q2, generation)) {
                error = "a cross-reference entry that cannot be read";
                return false;
            }
            const std::string kind = r.token(q2);
            if (kind == "n")
                x.offsets[first + i] = offset;
            else if (kind != "f")
                r.ok = false;
            if (!r.ok) {
                error = "a cross-reference entry that cannot be read";
                return false;
            }
        }
    }
    if (!read_dict(s, p, x.trailer)) {
        error = "a trailer that cannot be read";
        return false;
    }
    return true;
}

// The dictionary of object `number` ("number g obj << ... >>").
bool read_object(const std::string& s, const xref_s& x, size_t number, dict_s& dict) {
    const auto at = x.offsets.find(number);
    if (at == x.offsets.end() || at->second >= s.size())
        return false;
    reader_s r{s};
    size_t p = at->second, n = 0, generation = 0;
    if (!r.number(p, n) || n != number || !r.number(p, generation) || generation != 0 ||
        !r.keyword(p, "obj")) {
        return false;
    }
    return read_dict(s, p, dict);
}

// The first reference in an array value "[a 0 R b 0 R ...]"; 0 when there is none.
size_t first_in_array(const std::string& value) {
    if (value.empty() || value[0] != '[')
        return 0;
    reader_s r{value};
    size_t p = 1;
    r.skip_white(p);
    const size_t start = p;
    r.skip_object(p);
    return r.ok ? referenced(value.substr(start, p - start)) : 0;
}

// The dictionary object `id` (0: none) into `object` when its /Type is `type`.
bool read_typed(const std::string& pdf, const xref_s& x, size_t id, const char* type,
                dict_s& object) {
    if (id == 0 || !read_object(pdf, x, id, object))
        return false;
    const std::string* value = object.find("Type");
    return value && *value == type;
}

// `dict` as written, with the line `addition` before its closing ">>".
std::string extended(const std::string& s, const dict_s& dict, const std::string& addition) {
    size_t end = dict.end - 2;
    while (end > dict.begin && is_white(s[end - 1]))
        --end;
    return s.substr(dict.begin, end - dict.begin) + "\n" + addition + "\n>>";
}

std::string ref(size_t number) {
    return std::to_string(number) + " 0 R";
}

// One xref subsection line per run of consecutive object numbers.
std::string xref_section(const std::map<size_t, size_t>& offsets) {
    std::string out = "xref\n";
    for (auto it = offsets.begin(); it != offsets.end();) {
        auto run_end = it;
        size_t count = 0;
        while (run_end != offsets.end() && run_end->first == it->first + count) {
            ++run_end;
            ++count;
        }
        out += std::to_string(it->first) + " " + std::to_string(count) + "\n";
        for (; it != run_end; ++it) {
            char entry[32];
            std::snprintf(entry, sizeof entry, "%010zu 00000 n\r\n", it->second);
            out += entry;
        }
    }
    return out;
}

}  // namespace

std::string pdf_text_string(const std::u16string& text) {
    const bool printable =
        std::all_of(text.begin(), text.end(), [](char16_t c) { return c >= 0x20 && c < 0x7f; });
    if (printable) {
        std::string out = "(";
        for (char16_t c : text) {
            if (c == '(' || c == ')' || c == '\\')
                out += '\\';
            out += static_cast<char>(c);
        }
        return out + ")";
    }
    std::string out = "<FEFF";
    char unit[8];
    for (char16_t c : text) {
        std::snprintf(unit, sizeof unit, "%04X", static_cast<unsigned>(c));
        out += unit;
    }
    return out + ">";
}

bool append_signature_update(std::string& pdf, const signature_fields_s& fields,
                             signature_slot_s& slot, std::string& error) {
    xref_s x;
    if (!read_xref(pdf, x, error))
        return false;
    const auto refuse = [&error](const char* why) {
        error = why;
        return false;
    };
    if (x.trailer.find("Encrypt"))
        return refuse("an encrypted file");
    const std::string* size_value = x.trailer.find("Size");
    const std::string* root_value = x.trailer.find("Root");
    size_t size = 0, p = 0;
    // New objects are numbered from /Size on; an object beyond it would be overwritten.
    if (!size_value || !reader_s{*size_value}.number(p, size) ||
        (!x.offsets.empty() && x.offsets.rbegin()->first >= size))
        return refuse("a trailer without a /Size beyond every object");
    const size_t root = root_value ? referenced(*root_value) : 0;
    dict_s catalog, pages, page;
    if (!read_typed(pdf, x, root, "/Catalog", catalog))
        return refuse("no catalog where the trailer's /Root points");
    if (catalog.find("AcroForm"))
        return refuse("a catalog that has a form already");
    const std::string* pages_value = catalog.find("Pages");
    if (!read_typed(pdf, x, pages_value ? referenced(*pages_value) : 0, "/Pages", pages))
        return refuse("no page tree where the catalog's /Pages points");
    const std::string* kids = pages.find("Kids");
    const size_t page_id = kids ? first_in_array(*kids) : 0;
    if (!read_typed(pdf, x, page_id, "/Page", page))
        return refuse("no page 1 as the first of the page tree's /Kids");
    if (page.find("Annots"))
        return refuse("a page 1 that has annotations already");

    const size_t sig_id = size, widget_id = size + 1;
    std::string update = pdf.empty() || pdf.back() == '\n' ? "" : "\n";
    std::map<size_t, size_t> offsets;
    const auto begin_object = [&](size_t id) {
        offsets[id] = pdf.size() + update.size();
        update += std::to_string(id) + " 0 obj\n";
    };

    begin_object(sig_id);
    update += "<<\n/Type /Sig\n/Filter /Adobe.PPKLite\n/SubFilter /ETSI.CAdES.detached\n";
    update += "/ByteRange ";
    const size_t range_at = pdf.size() + update.size();
    update += kPlaceholderRange;
    update += "\n/Contents <";
    const size_t contents_at = pdf.size() + update.size();
    update.append(2 * fields.capacity, '0');
    update += ">\n/M (" + fields.signing_time + ")\n/Reason " + pdf_text_string(fields.reason) +
              "\n>>\nendobj\n";

    begin_object(widget_id);
    update += "<<\n/Type /Annot\n/Subtype /Widget\n/FT /Sig\n/T (" + std::string(kFieldName) +
              ")\n/V " + ref(sig_id) + "\n/F " + std::to_string(kWidgetFlags) +
              "\n/Rect [0 0 0 0]\n/P " + ref(page_id) + "\n>>\nendobj\n";

    begin_object(root);
    update +=
        extended(pdf, catalog, "/AcroForm <<\n/Fields [" + ref(widget_id) + "]\n/SigFlags 3\n>>") +
        "\nendobj\n";
    begin_object(page_id);
    update += extended(pdf, page, "/Annots [" + ref(widget_id) + "]") + "\nendobj\n";

    const size_t xref_at = pdf.size() + update.size();
    update += xref_section(offsets);
    update += "trailer\n<<\n/Size " + std::to_string(widget_id + 1) + "\n/Root " + *root_value;
    for (const char* key : {"Info", "ID"}) {
        if (const std::string* value = x.trailer.find(key))
            update += std::string("\n/") + key + " " + *value;
    }
    update += "\n/Prev " + std::to_string(x.at) + "\n>>\nstartxref\n" + std::to_string(xref_at) +
              "\n%%EOF\n";

    const size_t total = pdf.size() + update.size();
    slot.contents_at = contents_at;
    slot.capacity = fields.capacity;
    slot.ranges[0] = 0;
    slot.ranges[1] = contents_at - 1;  // up to the "<"
    slot.ranges[2] = contents_at + 2 * fields.capacity + 1;
    slot.ranges[3] = total - slot.ranges[2];
    char range[sizeof kPlaceholderRange + 64];
    const int n = std::snprintf(range, sizeof range, "[0 %zu %zu %zu", slot.ranges[1],
                                slot.ranges[2], slot.ranges[3]);
    const size_t width = sizeof kPlaceholderRange - 1;
    if (n < 0 || static_cast<size_t>(n) + 1 > width) {
        error = "a file too large to sign";
        return false;
    }
    std::string shown(range, static_cast<size_t>(n));
    shown.append(width - 1 - shown.size(), ' ');
    shown += ']';
    update.replace(range_at - pdf.size(), width, shown);
    pdf += update;
    return true;
}

bool fill_signature(std::string& pdf, const signature_slot_s& slot, const std::string& der,
                    std::string& error) {
    if (der.size() > slot.capacity) {
        error = "a signature of " + std::to_string(der.size()) + " bytes, more than the " +
                std::to_string(slot.capacity) + " reserved";
        return false;
    }
    if (slot.contents_at + 2 * slot.capacity >= pdf.size()) {
        error = "no room for the signature";
        return false;
    }
    static const char digits[] = "0123456789abcdef";
    char* out = &pdf[slot.contents_at];
    for (unsigned char byte : der) {
        *out++ = digits[byte >> 4];
        *out++ = digits[byte & 15];
    }
    return true;
}
