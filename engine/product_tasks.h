// The products' top Toom levels on the worker pool (product_tasks.cpp), for
// start_pool to install (install_pool_levels, products.h).
#ifndef TORVANE_ENGINE_PRODUCT_TASKS_H
#define TORVANE_ENGINE_PRODUCT_TASKS_H

#include "products.h"

extern const pool_levels product_pool_levels;

#endif
