// Node.js, ES module: the same instance as require('palavox'), so a
// PalavoxError is one class whichever way the package was loaded.
import { createRequire } from 'module';

const palavox = createRequire(import.meta.url)('./index.js');

export const { trataHTML, findString, removerAcentuacao, PalavoxError, init } = palavox;
export default palavox;
