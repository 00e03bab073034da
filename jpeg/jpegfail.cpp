#include "jpeg/jpegfail.h"

#include <stdio.h>
#include <stdlib.h>

#include "common/common.h"

void
jpegfail(j_common_ptr object)
{
	/*
	 * The library's own message follows on the same line; it never takes
	 * a system error text, so the line does not go through fail.
	 */
	fprintf(stderr, "%s: libjpeg: ", displayname());
	(*object->err->output_message)(object);
	exit(1);
}
