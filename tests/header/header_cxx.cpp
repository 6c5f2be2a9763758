// The public header must compile as C++ too, with the same record layout.
#include "tavrin/tavrin.h"

#include <cstddef>

static_assert(sizeof(q7x_work_param_t) == 24);
static_assert(sizeof(posfile_entry_t) == 31);
static_assert(offsetof(posfile_entry_t, end_address) == 15);
static_assert(offsetof(posfile_entry_t, download_count) == 29);

int main()
{
    return rvtele_free(nullptr) == -1 ? 0 : 1;
}
