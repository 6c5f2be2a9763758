/* The public header must compile as strict C99 and be usable from C. */
#include "tavrin/tavrin.h"

#include <stddef.h>

/* Offsets the program relies on when it reads the records field by field. */
typedef char check_work_param_size[sizeof(q7x_work_param_t) == 24 ? 1 : -1];
typedef char check_entry_size[sizeof(posfile_entry_t) == 31 ? 1 : -1];
typedef char check_distance_offset[offsetof(q7x_work_param_t, distance_interval) == 22 ? 1 : -1];

int main(void)
{
    rvtele_t *link;
    if (rvtele_module_init() != 0)
        return 1;
    link =
        rvtele_alloc(RVCOMM_MAGIC_NETWORK, "127.0.0.1", TAVRIN_CAMERA_PORT, TAVRIN_RING_CAPACITY);
    if (!link)
        return 1;
    if (rvtele_stop(link) != 0 || rvtele_free(link) != 0)
        return 1;
    rvtele_module_exit();
    return 0;
}
