#include <stdio.h>
int main(){printf("%La\n",1e-15L);}
