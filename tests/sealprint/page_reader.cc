#include "page_reader.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <map>
#include <regex>
#include <sstream>

#include "common/process.h"

namespace {

constexpr double kUnitsPerInch = 300;

std::string latin1_to_utf8(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

void append_utf8(std::string& out, unsigned code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// The embedded fonts show two-byte codes, which the report's fonts map to Unicode (BMP).
std::string ucs2_hex_to_utf8(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 4 <= hex.size(); i += 4) {
        append_utf8(out, static_cast<unsigned>(std::stoul(hex.substr(i, 4), nullptr, 16)));
    }
    return out;
}

struct font_s {
    std::string base;
    bool two_byte = false;
    std::string object;  // its object number
};

std::string object_text(const std::string& qdf, const std::string& number) {
    const std::string head = "\n" + number + " 0 obj\n";
    const size_t at = qdf.find(head);
    if (at == std::string::npos)
        return "";
    return qdf.substr(at, qdf.find("endobj", at) - at);
}

std::string name_after(const std::string& text, const std::string& key) {
    const size_t at = text.find(key + " /");
    if (at == std::string::npos)
        return "";
    const size_t start = at + key.size() + 2;
    size_t end = start;
    while (end < text.size() && !isspace(static_cast<unsigned char>(text[end])) &&
           text[end] != '/' && text[end] != '>')
        ++end;
    return text.substr(start, end - start);
}

// Resource name ("F1") to font, from the page's /Font dictionary.
std::map<std::string, font_s> page_fonts(const std::string& qdf, const std::string& page_object) {
    std::map<std::string, font_s> fonts;
    const size_t start = page_object.find("/Font <<");
    if (start == std::string::npos)
        return fonts;
    std::istringstream entries(
        page_object.substr(start + 8, page_object.find(">>", start) - start - 8));
    std::string name, number, generation, ref;
    while (entries >> name >> number >> generation >> ref) {
        const std::string object = object_text(qdf, number);
        font_s font;
        font.base = name_after(object, "/BaseFont");
        // Embedded faces carry a six-letter subset tag: "ABCDEF+FreeSerif".
        const size_t plus = font.base.find('+');
        if (plus == 6)
            font.base = font.base.substr(7);
        font.two_byte = name_after(object, "/Subtype") == "Type0";
        font.object = number;
        fonts[name.substr(1)] = font;
    }
    return fonts;
}

struct token_s {
    enum kind_e { number, name, literal, hex, op } kind;
    std::string text;
};

// Reads a literal string after its "(", undoing the escapes.
std::string read_literal(const std::string& s, size_t& i) {
    std::string out;
    int depth = 1;
    while (i < s.size()) {
        char c = s[i++];
        if (c == '\\' && i < s.size()) {
            char e = s[i++];
            switch (e) {
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            default:
                if (e >= '0' && e <= '7') {
                    int code = e - '0';
                    for (int k = 0; k < 2 && i < s.size() && s[i] >= '0' && s[i] <= '7'; ++k)
                        code = code * 8 + (s[i++] - '0');
                    out += static_cast<char>(code);
                } else {
                    out += e;
                }
            }
            continue;
        }
        if (c == '(')
            ++depth;
        if (c == ')' && --depth == 0)
            break;
        out += c;
    }
    return out;
}

std::vector<token_s> tokenize(const std::string& s) {
    std::vector<token_s> tokens;
    size_t i = 0;
    while (i < s.size()) {
        const char c = s[i];
        if (isspace(static_cast<unsigned char>(c))) {
            ++i;
        } else if (c == '(') {
            ++i;
            tokens.push_back({token_s::literal, read_literal(s, i)});
        } else if (c == '<') {
            const size_t end = s.find('>', i);
            tokens.push_back({token_s::hex, s.substr(i + 1, end - i - 1)});
            i = end + 1;
        } else if (c == '/') {
            size_t end = i + 1;
            while (end < s.size() && !isspace(static_cast<unsigned char>(s[end])) &&
                   std::string("/[]<>()").find(s[end]) == std::string::npos)
                ++end;
            tokens.push_back({token_s::name, s.substr(i + 1, end - i - 1)});
            i = end;
        } else {
            size_t end = i;
            while (end < s.size() && !isspace(static_cast<unsigned char>(s[end])) &&
                   std::string("/[]<>()").find(s[end]) == std::string::npos)
                ++end;
            if (end == i)
                end = i + 1;
            const std::string word = s.substr(i, end - i);
            const bool numeric = word.find_first_not_of("+-.0123456789") == std::string::npos;
            tokens.push_back({numeric ? token_s::number : token_s::op, word});
            i = end;
        }
    }
    return tokens;
}

double num(const std::vector<token_s>& operands, size_t index) {
    return index < operands.size() ? std::strtod(operands[index].text.c_str(), nullptr) : 0;
}

// Every text object with the font and fill colour in force where it starts, the font named by
// its object.
std::vector<std::string> text_objects(const std::string& content,
                                      const std::map<std::string, font_s>& fonts) {
    struct state_s {
        std::string font, colour;
    };
    std::vector<state_s> saved;
    state_s now;
    std::vector<std::string> objects;
    bool in_text = false;
    std::istringstream lines(content);
    static const std::regex font_op(R"(/(F\d+)( .* Tf))");
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (std::regex_match(line, m, font_op)) {
            const auto found = fonts.find(m[1]);
            line = "font#" + (found == fonts.end() ? "/" + m[1].str() : found->second.object) +
                   m[2].str();
            now.font = line;
        } else if (line.size() > 3 && line.compare(line.size() - 3, 3, " rg") == 0) {
            now.colour = line;
        } else if (line == "q") {
            saved.push_back(now);
        } else if (line == "Q" && !saved.empty()) {
            now = saved.back();
            saved.pop_back();
        }
        if (line == "BT") {
            objects.push_back(now.font + "\n" + now.colour + "\n");
            in_text = true;
        }
        if (in_text)
            objects.back() += line + "\n";
        if (line == "ET")
            in_text = false;
    }
    return objects;
}

}  // namespace

page_s read_page(const std::string& pdf, int n) {
    page_s page;
    const run_result_s q =
        run_program({"/usr/bin/qpdf", "--qdf", "--object-streams=disable", pdf, "-"});
    const std::string& qdf = q.out;
    if (q.status != 0 || qdf.empty()) {
        page.error = "qpdf failed: " + q.err;
        return page;
    }
    const std::string number = std::to_string(n);
    const size_t page_at = qdf.find("%% Page " + number + "\n");
    const size_t contents_at = qdf.find("%% Contents for page " + number + "\n");
    if (page_at == std::string::npos || contents_at == std::string::npos) {
        page.error = "no page " + number;
        return page;
    }
    const std::map<std::string, font_s> fonts =
        page_fonts(qdf, qdf.substr(page_at, qdf.find("endobj", page_at) - page_at));
    const size_t stream_at = qdf.find("stream\n", contents_at) + 7;
    const std::string content = qdf.substr(stream_at, qdf.find("endstream", stream_at) - stream_at);
    page.text_objects = text_objects(content, fonts);
    page.content = content;
    struct state_s {
        font_s font;
        double size = 0;
        std::string fill = "0 0 0";
    };
    state_s state;
    std::vector<state_s> saved;
    double line_x = 0, line_y = 0;
    double matrix[6] = {1, 0, 0, 1, 0, 0};
    std::vector<token_s> operands;
    for (const token_s& t : tokenize(content)) {
        if (t.kind != token_s::op) {
            operands.push_back(t);
            continue;
        }
        const std::string& op = t.text;
        if (op == "BT") {
            line_x = line_y = 0;
        } else if (op == "Td") {
            line_x += num(operands, 0);
            line_y += num(operands, 1);
        } else if (op == "Tf" && !operands.empty()) {
            auto it = fonts.find(operands[0].text);
            state.font = it == fonts.end() ? font_s{"?" + operands[0].text, false, ""} : it->second;
            state.size = num(operands, 1);
        } else if (op == "rg" && operands.size() == 3) {
            state.fill = operands[0].text + " " + operands[1].text + " " + operands[2].text;
        } else if (op == "Tj" && !operands.empty()) {
            const token_s& s = operands.back();
            const std::string text = s.kind == token_s::hex
                                         ? (state.font.two_byte ? ucs2_hex_to_utf8(s.text) : "?hex")
                                         : latin1_to_utf8(s.text);
            page.texts.push_back({text, state.font.base, state.size, line_x, line_y, state.fill});
        } else if (op == "cm" && operands.size() == 6) {
            for (int k = 0; k < 6; ++k)
                matrix[k] = num(operands, k);
        } else if (op == "Do") {
            page.images.push_back({matrix[4], matrix[5], matrix[0], matrix[3]});
        } else if (op == "q") {
            saved.push_back(state);
        } else if (op == "Q" && !saved.empty()) {
            state = saved.back();
            saved.pop_back();
        }
        operands.clear();
    }
    return page;
}

std::vector<shown_text_s> pieces_at(const page_s& page, point_s at) {
    std::vector<shown_text_s> pieces;
    for (const shown_text_s& t : page.texts) {
        if (std::fabs(t.x - at.x) < 0.01 && std::fabs(t.y - at.y) < 0.01)
            pieces.push_back(t);
    }
    return pieces;
}

std::string line_at(const page_s& page, point_s at) {
    std::string line;
    for (const shown_text_s& t : pieces_at(page, at))
        line += t.text;
    return line;
}

std::vector<std::string> lines_from(const page_s& page, const column_s& column) {
    std::vector<std::string> lines;
    for (int n = 0; !pieces_at(page, column.line(n)).empty(); ++n)
        lines.push_back(line_at(page, column.line(n)));
    return lines;
}

std::string origin_of(const std::string& text_object) {
    static const std::regex td(R"(BT\n(?:.*\n)*?(-?[\d.]+ -?[\d.]+) Td\n)");
    std::smatch m;
    return std::regex_search(text_object, m, td) ? m[1].str() : std::string();
}

page_pixels_s::rgb_s page_pixels_s::at(double x, double y) const {
    return pixel(static_cast<int>(std::floor((x - left) * dpi / kUnitsPerInch)),
                 static_cast<int>(std::floor((top - y) * dpi / kUnitsPerInch)));
}

page_pixels_s::rgb_s page_pixels_s::pixel(int column, int row) const {
    if (column < 0 || row < 0 || column >= width || row >= height)
        return {};
    const size_t i = (static_cast<size_t>(row) * width + column) * 3;
    if (i + 2 >= data.size())
        return {};
    return {static_cast<unsigned char>(data[i]), static_cast<unsigned char>(data[i + 1]),
            static_cast<unsigned char>(data[i + 2])};
}

int images_listed(const std::string& pdf, int n, const std::string& columns) {
    const std::string page = std::to_string(n);
    std::istringstream list(
        shell_output("pdfimages -f " + page + " -l " + page + " -list '" + pdf + "'"));
    const std::regex picture(R"(\s*)" + page + R"(\s+\d+\s+image\s+)" + columns + ".*");
    int count = 0;
    for (std::string line; std::getline(list, line);)
        count += std::regex_match(line, picture);
    return count;
}

page_pixels_s render_page(const std::string& pdf, int n, const box_s& box, int dpi) {
    page_pixels_s pixels;
    if (n < 1 || n > 2)
        return pixels;
    const double page_height = kPageHeight[n];
    pixels.dpi = dpi;
    pixels.top = page_height;
    const std::string number = std::to_string(n);
    std::vector<std::string> argv = {
        "/usr/bin/pdftoppm", "-r", std::to_string(dpi), "-f", number, "-l", number, "-singlefile"};
    if (box.w > 0) {
        const auto px = [dpi](double units) {
            return std::to_string(std::lround(units * dpi / kUnitsPerInch));
        };
        const double from_top = page_height - box.y - box.h;
        argv.insert(argv.end(),
                    {"-x", px(box.x), "-y", px(from_top), "-W", px(box.w), "-H", px(box.h)});
        pixels.left = std::lround(box.x * dpi / kUnitsPerInch) * kUnitsPerInch / dpi;
        pixels.top =
            page_height - std::lround(from_top * dpi / kUnitsPerInch) * kUnitsPerInch / dpi;
    }
    argv.push_back(pdf);  // no output name: the picture comes on standard output
    const run_result_s r = run_program(argv);
    if (r.status != 0)
        return pixels;
    const std::string& ppm = r.out;
    // "P6", width, height, maximum value, one blank, then the rows.
    std::istringstream header(ppm);
    std::string magic;
    int max_value = 0;
    header >> magic >> pixels.width >> pixels.height >> max_value;
    if (magic != "P6" || max_value != 255)
        return {};
    const std::streamoff data_at = static_cast<std::streamoff>(header.tellg()) + 1;
    pixels.data = ppm.substr(static_cast<size_t>(data_at));
    return pixels;
}

bool near(const page_pixels_s::rgb_s& p, const page_pixels_s::rgb_s& colour, int tolerance) {
    return std::abs(p.r - colour.r) <= tolerance && std::abs(p.g - colour.g) <= tolerance &&
           std::abs(p.b - colour.b) <= tolerance;
}

std::string str(const page_pixels_s::rgb_s& p) {
    return std::to_string(p.r) + "," + std::to_string(p.g) + "," + std::to_string(p.b);
}
