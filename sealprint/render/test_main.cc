// Widgets need an application object; the tests render off screen, as the report does.
#include <QApplication>

#include <gtest/gtest.h>

// The offscreen platform plugin never frees the screen it creates with the application. The
// leak lies behind the toolkit's frames, which only the slow unwinder can see through.
extern "C" const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0:malloc_context_size=8";
}
extern "C" const char* __lsan_default_suppressions() {
    return "leak:QGuiApplicationPrivate::createPlatformIntegration\n";
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
