// sealprint: renders the signed approval report of every result in a report folder.
#include <QApplication>
#include <QFile>
#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "job/report_job.h"
#include "render/canvas.h"

namespace {

const char* const kVersion = ORVEL_K2_VERSION;  // the project version, set by the build
constexpr int kArgumentCount = 13;

void print_usage(const char* program) {
    const char* slash = strrchr(program, '/');
    const char* name = slash ? slash + 1 : program;
    printf("<%s> Usage:\n", name);
    printf(
        "%s <login_id> <login_name> <level> <report_path>\n"
        "\t<L1_approval_id> <L1_approval_name> <L1_approval_date>\n"
        "\t<L2_approval_id> <L2_approval_name> <L2_approval_date>\n"
        "\t<L3_approval_id> <L3_approval_name> <L3_approval_date>\n",
        name);
}

// The program never shows a window; without a display Qt must not try to open one.
void select_offscreen_without_display() {
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && strcmp(argv[1], "version") == 0) {
        printf("<sealprint> version : %s\n", kVersion);
        return 0;
    }
    if (argc < 1 + kArgumentCount) {
        print_usage(argc > 0 ? argv[0] : "sealprint");
        return 1;
    }
    // Only the software that starts us for a signature sets this.
    if (!getenv("SUMMONED_BY_FILELIST"))
        return 0;

    select_offscreen_without_display();
    // Qt sees only the program name: an id such as "-platform" must stay an id.
    int qt_argc = 1;
    QApplication app(qt_argc, argv);
    register_label_fonts();  // for the histogram images

    // Names are UTF-8; the report path is a file name and keeps its bytes whatever the locale.
    QStringList args;
    for (int i = 1; i <= kArgumentCount; ++i) {
        args.append(i == 4 ? QFile::decodeName(argv[i]) : QString::fromUtf8(argv[i]));
    }

    printf("<sealprint> build - %s\n", SEALPRINT_BUILD_STAMP);
    printf("<sealprint> version: %s\n", kVersion);
    return run_report_job(args);
}
