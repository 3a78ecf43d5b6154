#include "ui/FormBase.h"

#include <utility>

namespace quillo {

namespace {
TFormTranslator& Translator() {
    static TFormTranslator translator;
    return translator;
}
} // namespace

TFormTranslator SetFormTranslator(TFormTranslator T) {
    return std::exchange(Translator(), std::move(T));
}

void TranslateForm(QWidget& Form) {
    if (Translator())
        Translator()(Form);
}

} // namespace quillo
