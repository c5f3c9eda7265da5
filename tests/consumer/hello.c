/* The program the consumer project packages. */
#include <stdio.h>

int main(void)
{
    puts("hello from the packaged program");
    return 0;
}
