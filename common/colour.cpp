#include "common/common.h"

#include <string.h>

int
parsecolour(const char *text, uint16_t channels[3])
{
	size_t length = strlen(text);
	unsigned int red, green, blue, factor;
	char format[] = "%1x%1x%1x";

	/* The factor repeats a shorter channel's digits: f becomes ffff. */
	switch (length) {
	case 3:
		factor = 0x1111;
		break;
	case 6:
		factor = 0x0101;
		break;
	case 12:
		factor = 1;
		break;
	default:
		return 1;
	}
	format[1] = format[4] = format[7] = '0' + length / 3;
	if (sscanf(text, format, &red, &green, &blue) != 3)
		return 1;
	channels[0] = (uint16_t)(red * factor);
	channels[1] = (uint16_t)(green * factor);
	channels[2] = (uint16_t)(blue * factor);
	return 0;
}
