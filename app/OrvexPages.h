/*
 * The program's composition: the main window's pages, made and handed to it
 * in the order of its navigation entries. The main window knows its pages
 * only as widgets; they listen to its signals.
 */
#ifndef APP_ORVEXPAGES_H
#define APP_ORVEXPAGES_H

/* Build every page and put it into the main window's stack; once, before the window shows. */
void installOrvexPages();

#endif
