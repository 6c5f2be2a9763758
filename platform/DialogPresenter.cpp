#include "DialogPresenter.h"

namespace {
DialogPresenter *current = nullptr;
}

DialogPresenter *DialogPresenter::instance()
{
    return current;
}

DialogPresenter *DialogPresenter::install(DialogPresenter *presenter)
{
    DialogPresenter *previous = current;
    current = presenter;
    return previous;
}
