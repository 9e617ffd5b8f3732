// Widget tests need one QApplication for the whole run, made before any test.
// KV_TEST_LANGUAGE=en runs them with the window's English translation
// installed, as `kvsetup --lang en` does; otherwise the window speaks its
// own texts, whatever the machine's locale.
#include "AppStyle.h"
#include "Language.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    kv::UseClassicLook(application);
    const auto language = kv::lang::ParseLanguage(qEnvironmentVariable("KV_TEST_LANGUAGE"));
    kv::lang::TTranslation translation(language.value_or(kv::lang::TLanguage::Hungarian));
    if (language)
        translation.Install();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
