<!-- Book page template, corvane_version="2".
     Everything above the document type is dropped from the book page. The language
     fragment comes first because it defines the g_ texts that the toolbar and the
     panels below write.
     data-direction below: "rtl" shows every book made with this template right to left,
     "ltr" left to right; empty follows each PDF's own preference.
     data-layout-pieces: books made with this template have their layout and text also in
     pieces of this many pages (a page without it reads the whole files).
     page_turn_ms: how long one page turn lasts, in milliseconds; 0 shows each spread at
     once (readers who ask their system for reduced motion always get that). -->
<!DOCTYPE html>
<!--#include file="lang/en.asp"-->
<%
toolbar_width=900
page_turn_ms=650
home_link=#page=1
home_img=home.svg
home_content=1
email_button=<a id="vm-email" class="vm-btn" href="mailto:"><svg aria-hidden="true"><use href="#vm-i-mail"/></svg></a>
note_button=<button type="button" id="vm-note-btn" class="vm-btn" aria-expanded="false" aria-controls="vm-note"><svg aria-hidden="true"><use href="#vm-i-note"/></svg></button>
%>
<html lang="<%=g_LANG%>">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<meta name="generator" content="Vellumark">
<link rel="icon" href="<%=sub_skindir%>/icon.svg" type="image/svg+xml">
<title><%=strTitle%></title>
<%=share_tags%>
<%=first_spread_hint%>
<link rel="stylesheet" href="../RurovOzeza.v1.css">
<link rel="stylesheet" href="<%=sub_css%>">
<script src="../index.js" defer></script>
</head>
<body>
<div id="vm-app" class="vm-app"
  data-pages="<%=PAGECOUNT%>" data-page-width="<%=PAGEWIDTH%>" data-page-height="<%=PAGEHEIGHT%>"
  data-book="<%=guid%>" data-images="<%=img_parent_dir%>"
  data-res="LowRes <%=LowResWidth%> <%=LowResHeight%>,MedRes <%=MedResWidth%> <%=MedResHeight%>,HighRes <%=HighResWidth%> <%=HighResHeight%>"
  data-zoom-frame="<%=zoom_container_width%> <%=zoom_container_height%>" data-zoom-text="<%=zoom_text%>"
  data-print="../print.html" data-print-set="HighRes" data-pdf="<%=pdf_file%>"
  data-layout="layout.js" data-direction=""
  data-layout-pieces="32" data-turn-ms="<%=page_turn_ms%>">
<a class="vm-skip" href="#vm-stage"><%=g_SKIP%></a>
<!--#include file="bar2.asp"-->
<main id="vm-stage" class="vm-stage" tabindex="-1" aria-label="<%=g_BOOK%>">
  <div id="vm-book" class="vm-book">
    <div class="vm-slot vm-left"></div>
    <div class="vm-slot vm-right"></div>
    <div class="vm-edge vm-edge-prev" aria-hidden="true"></div>
    <div class="vm-edge vm-edge-next" aria-hidden="true"></div>
  </div>
  <p id="vm-status" class="vm-sr" aria-live="polite"></p>
  <noscript><p class="vm-noscript"><a href="text.html"><%=g_TEXTVERSION%></a></p></noscript>
</main>
<section id="vm-zoom" class="vm-zoom" hidden aria-label="<%=g_ZOOM%>">
  <button type="button" id="vm-zoom-close" class="vm-btn vm-close" aria-label="<%=g_ZOOMOUT%>" title="<%=g_ZOOMOUT%>"><svg aria-hidden="true"><use href="#vm-i-close"/></svg></button>
  <div id="vm-zoom-view" class="vm-zoom-view" tabindex="0" aria-label="<%=g_ZOOM%>"></div>
</section>
<aside id="vm-thumbs" class="vm-panel" hidden aria-labelledby="vm-thumbs-h">
  <div class="vm-panel-head"><h2 id="vm-thumbs-h"><%=g_THUMBS%></h2><button type="button" class="vm-btn vm-close" data-close="vm-thumbs" aria-label="<%=g_CLOSE%>" title="<%=g_CLOSE%>"><svg aria-hidden="true"><use href="#vm-i-close"/></svg></button></div>
  <ol id="vm-thumb-list" class="vm-thumb-list"></ol>
</aside>
<aside id="vm-search" class="vm-panel" hidden aria-labelledby="vm-search-h">
  <div class="vm-panel-head"><h2 id="vm-search-h"><%=g_SEARCH%></h2><button type="button" class="vm-btn vm-close" data-close="vm-search" aria-label="<%=g_CLOSE%>" title="<%=g_CLOSE%>"><svg aria-hidden="true"><use href="#vm-i-close"/></svg></button></div>
  <form id="vm-search-form" class="vm-search-form" role="search">
    <label for="vm-search-box" class="vm-sr"><%=g_SEARCHBOX%></label>
    <input id="vm-search-box" type="search" placeholder="<%=g_SEARCHBOX%>" autocomplete="off">
    <button type="submit" class="vm-btn" aria-label="<%=g_SEARCH%>" title="<%=g_SEARCH%>"><svg aria-hidden="true"><use href="#vm-i-search"/></svg></button>
  </form>
  <p id="vm-search-status" class="vm-panel-note" aria-live="polite"></p>
  <ol id="vm-results" class="vm-results"></ol>
</aside>
<aside id="vm-note" class="vm-panel" hidden aria-labelledby="vm-note-h">
  <div class="vm-panel-head"><h2 id="vm-note-h"><%=g_NOTE%></h2><button type="button" class="vm-btn vm-close" data-close="vm-note" aria-label="<%=g_CLOSE%>" title="<%=g_CLOSE%>"><svg aria-hidden="true"><use href="#vm-i-close"/></svg></button></div>
  <div id="vm-note-pages"></div>
  <p id="vm-note-status" class="vm-panel-note vm-warning" role="alert"></p>
  <p class="vm-panel-note"><%=g_NOTEHINT%></p>
</aside>
<aside id="vm-print" class="vm-panel" hidden aria-labelledby="vm-print-h">
  <div class="vm-panel-head"><h2 id="vm-print-h"><%=g_PRINT%></h2><button type="button" class="vm-btn vm-close" data-close="vm-print" aria-label="<%=g_CLOSE%>" title="<%=g_CLOSE%>"><svg aria-hidden="true"><use href="#vm-i-close"/></svg></button></div>
  <form id="vm-print-form" class="vm-print-form">
    <label><input type="radio" name="vm-print-what" value="current" checked> <%=g_PRINTCUR%></label>
    <label><input type="radio" name="vm-print-what" value="range"> <%=g_PRINTRANGE%></label>
    <span class="vm-print-range">
      <label for="vm-print-from" class="vm-sr"><%=g_FROM%></label><input id="vm-print-from" type="number" min="1" value="1">
      <span aria-hidden="true">&ndash;</span>
      <label for="vm-print-to" class="vm-sr"><%=g_TO%></label><input id="vm-print-to" type="number" min="1" value="1">
    </span>
    <label><input type="radio" name="vm-print-what" value="all"> <%=g_PRINTALL%></label>
    <button type="submit" id="vm-print-go" class="vm-wide-btn"><%=g_PRINTOPEN%></button>
  </form>
</aside>
<div id="vm-texts" hidden data-of="<%=g_OF%>" data-page="<%=g_PAGE%>" data-pages="<%=g_PAGES%>"
  data-found="<%=g_FOUND%>" data-noresult="<%=g_NORESULT%>" data-loading="<%=g_LOADING%>"
  data-notext="<%=g_NOTEXT%>" data-print="<%=g_PRINT%>" data-mail-body="<%=g_MAILBODY%>"
  data-email="<%=g_EMAIL%>" data-note="<%=g_NOTE%>" data-note-fail="<%=g_NOTEFAIL%>"
  data-contents="<%=g_CONTENTS%>" data-close="<%=g_CLOSE%>" data-copied="<%=g_COPIED%>"
  data-copy-fail="<%=g_COPYFAIL%>" data-download="<%=g_DOWNLOAD%>"></div>
</div>
</body>
</html>
