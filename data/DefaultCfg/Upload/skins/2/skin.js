/* Files of book skin 2, in the order they are published. skin.js comes last: a server that
   holds it holds the whole skin. Each name is written in single quotes followed by a comma. */
var VELLUMARK_SKIN_FILES = [
  'site_styles.css',
  'desk.png',
  'home.svg',
  'icon.svg',
  'loading.svg',
  'skin.js',
];
