#include "app/AppDelegate.h"

int main(int argc, char **argv)
{
    return AppDelegate::run(argc, argv);
}
