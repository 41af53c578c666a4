/* Book viewer shared by every book in the books folder: the first of its source files.
 *
 * The book page (index.html, made from booklet.asp) carries the book's figures as data
 * attributes of #vm-app and its toolbar texts in #vm-texts; these scripts turn them into a
 * page-turning reader. It uses no other host and no module loader, so a book reads the same
 * from a file:// address, from a static web server and as an exported copy (whose page
 * refers to the shared files with " ./" instead of "../", hence the trimming of paths).
 *
 * The files of this folder are the readable source. The build joins them in the order of
 * data/CMakeLists.txt inside one function (so their names stay private to the reader and
 * the files share them, as one script would) and minifies the result into the one shared
 * index.js that every book loads, the only script publishing sends with the books.
 */

var doc = document;
function $(id) { return doc.getElementById(id); }
function resolve(path) { return new URL(String(path || '').trim(), location.href).href; }
function clamp(v, lo, hi) { return Math.max(lo, Math.min(hi, v)); }

var app, book, texts, state;
