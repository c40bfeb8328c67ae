#include "csv/csv_reader.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

const csv_category_s csv_category[6] = {
    {"Cell count report", "====="},  {"Device setting", "-----"}, {"Protocol", "-----"},
    {"Cell count results", "-----"}, {"Graph", "-----"},          {"Volume", "-----"},
};

const csv_item_s items[57] = {
    {CSV_CELL_COUNT_REPORT, "Date"},
    {CSV_CELL_COUNT_REPORT, "Security"},
    {CSV_CELL_COUNT_REPORT, "User"},
    {CSV_CELL_COUNT_REPORT, "Device name"},
    {CSV_CELL_COUNT_REPORT, "File name"},
    {CSV_CELL_COUNT_REPORT, "Reanalysis"},
    {CSV_CELL_COUNT_REPORT, "Counting mode"},
    {CSV_CELL_COUNT_REPORT, "Serial number"},
    {CSV_CELL_COUNT_REPORT, "Firmware version"},
    {CSV_CELL_COUNT_REPORT, "Software version"},
    {CSV_DEVICE_SETTING, "Slide type"},
    {CSV_DEVICE_SETTING, "Counted chamber area"},
    {CSV_DEVICE_SETTING, "Combine result"},
    {CSV_DEVICE_SETTING, "Autofocusing channel in FL"},
    {CSV_DEVICE_SETTING, "Autofocused counting"},
    {CSV_DEVICE_SETTING, "Autofocus offset"},
    {CSV_DEVICE_SETTING, "Autofocus upon slide insertion"},
    {CSV_DEVICE_SETTING, "Last calibration"},
    {CSV_DEVICE_SETTING, "Calibration setting"},
    {CSV_DEVICE_SETTING, "Calibration value"},
    {CSV_DEVICE_SETTING, "Pixel shift"},
    {CSV_PROTOCOL, "Protocol name"},
    {CSV_PROTOCOL, "Min. search size"},
    {CSV_PROTOCOL, "Max. search size"},
    {CSV_PROTOCOL, "Min. cell size"},
    {CSV_PROTOCOL, "Max. cell size"},
    {CSV_PROTOCOL, "Cell detection sensitivity"},
    {CSV_PROTOCOL, "Live cell sensitivity"},
    {CSV_PROTOCOL, "Noise reduction"},
    {CSV_PROTOCOL, "Dilution factor"},
    {CSV_PROTOCOL, "GF exposure level"},
    {CSV_PROTOCOL, "RF exposure level"},
    {CSV_PROTOCOL, "GF threshold level"},
    {CSV_PROTOCOL, "RF threshold level"},
    {CSV_PROTOCOL, "Cell size calculation"},
    {CSV_PROTOCOL, "Declumping sensitivity"},
    {CSV_PROTOCOL, "Min. FL intensity"},
    {CSV_PROTOCOL, "Min. roundness"},
    {CSV_PROTOCOL, "Size gating"},
    {CSV_CELL_COUNT_RESULTS, "[Total cell]"},
    {CSV_CELL_COUNT_RESULTS, "[Live cell]"},
    {CSV_CELL_COUNT_RESULTS, "[Dead cell]"},
    {CSV_CELL_COUNT_RESULTS, "Viability"},
    {CSV_CELL_COUNT_RESULTS, "Avg. size"},
    {CSV_CELL_COUNT_RESULTS, "Total cell number"},
    {CSV_CELL_COUNT_RESULTS, "Live cell number"},
    {CSV_CELL_COUNT_RESULTS, "Dead cell number"},
    // The histograms are looked up twice; the installation's other software reads the
    // log lines as they are, so the repetition stays.
    {CSV_GRAPH, "Total Histogram"},
    {CSV_GRAPH, "Live Histogram"},
    {CSV_GRAPH, "Dead Histogram"},
    {CSV_GRAPH, "Cluster Histogram"},
    {CSV_GRAPH, "Total Histogram"},
    {CSV_GRAPH, "Live Histogram"},
    {CSV_GRAPH, "Dead Histogram"},
    {CSV_GRAPH, "Cluster Histogram"},
    {CSV_VOLUME, "-"},
    {CSV_END_OF_ITEMS, ""},
};

namespace {

struct file_closer {
    void operator()(FILE* f) const { fclose(f); }
};
using file_ptr = std::unique_ptr<FILE, file_closer>;

// One fgets read of at most CSV_VALUE_SIZE - 1 bytes; a longer line arrives in pieces, each
// handled as a line of its own. Only a line feed is dropped, so a last line without one
// keeps all its characters. False at the end of the file.
bool read_line(FILE* f, char* line) {
    if (!fgets(line, CSV_VALUE_SIZE, f))
        return false;
    size_t n = strlen(line);
    if (n > 0 && line[n - 1] == '\n')
        line[n - 1] = '\0';
    return true;
}

// Opens `path` positioned after the first line that equals `title` exactly.
file_ptr open_at_title(const char* path, const char* title, char* line) {
    file_ptr f(fopen(path, "r"));
    if (!f)
        return f;
    while (read_line(f.get(), line)) {
        if (line[0] != '\0' && strcmp(line, title) == 0)
            return f;
    }
    return nullptr;
}

}  // namespace

int search_value_by_key(const char* path, csv_category_e category, const char* key, char* value) {
    if (category < CSV_CELL_COUNT_REPORT || category > CSV_VOLUME)
        return -1;
    const csv_category_s& section = csv_category[category];
    char line[CSV_VALUE_SIZE];

    file_ptr f = open_at_title(path, section.title, line);
    // Some files title the section "Instrument setting"; that title is tried only when the
    // whole file lacks "Device setting".
    if (!f && category == CSV_DEVICE_SETTING)
        f = open_at_title(path, "Instrument setting", line);
    if (!f)
        return -1;

    bool underlined = false;
    while (!underlined && read_line(f.get(), line)) {
        underlined = line[0] != '\0' && strstr(line, section.underline) != nullptr;
    }
    if (!underlined)
        return -1;

    const std::string_view wanted(key);
    bool found = false;
    while (!found) {
        // A blank line ends the section's data.
        if (!read_line(f.get(), line) || line[0] == '\0')
            return -1;
        if (category == CSV_VOLUME) {
            strcpy(value, line);
            break;
        }
        // Fields split like strtok(","): runs of commas are one separator, no quoting.
        std::string_view rest(line);
        auto next_field = [&rest]() {
            size_t start = rest.find_first_not_of(',');
            if (start == std::string_view::npos)
                return std::string_view();
            rest.remove_prefix(start);
            std::string_view field = rest.substr(0, rest.find(','));
            rest.remove_prefix(field.size());
            return field;
        };
        const std::string_view line_key = next_field();
        if (line_key.empty())
            continue;
        found = line_key == wanted || (wanted == "Device name" && line_key == "Instrument name");
        if (!found)
            continue;
        size_t used = 0;
        for (std::string_view field = next_field(); !field.empty(); field = next_field()) {
            if (used > 0)
                value[used++] = ',';
            memcpy(value + used, field.data(), field.size());
            used += field.size();
        }
        value[used] = '\0';
    }

    if (wanted == "Counting mode") {
        // The method follows on the next line, which begins with its own comma.
        if (!read_line(f.get(), line))
            return 0;
        const size_t used = strlen(value);
        const size_t room = CSV_VALUE_SIZE - 1 - used;
        strncat(value, line, room);
    }
    return 1;
}
