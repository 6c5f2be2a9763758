/* (to be written) */
